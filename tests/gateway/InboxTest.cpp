// The inbox folder: files taken to done/ or rejected/ with their reason,
// names already taken, files too large, still being written or that cannot
// be moved, and what is not an alert file at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeHandler.h"
#include "Inbox.h"

namespace pelmora::gateway {
namespace {

namespace fs = std::filesystem;
using testing::FakeHandler;
using testing::LogLines;

class InboxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pelmora-inbox-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        inbox_ = dir_ / "inbox";
    }
    void TearDown() override { fs::remove_all(dir_); }

    static void Put(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    fs::path dir_;
    fs::path inbox_;
    FakeHandler handler_;
    LogLines log_;
};

TEST_F(InboxTest, TakesFilesToDoneOrToRejectedWithTheirReason) {
    Inbox inbox(inbox_, handler_, log_.Sink(), std::chrono::milliseconds(0));
    EXPECT_EQ(inbox.Scan(), 0);
    ASSERT_TRUE(fs::is_directory(inbox_ / "done"));
    ASSERT_TRUE(fs::is_directory(inbox_ / "rejected"));

    handler_.alertAnswer = [](const std::string& body) {
        if (body == "draft") return HttpAnswer{422, R"({"error":"status: \"Draft\" refused"})"};
        if (body == "conflict") return HttpAnswer{409, "not json"};
        return HttpAnswer{202, "{}"};
    };
    Put(inbox_ / "done" / "a.xml", "earlier");
    Put(inbox_ / "a.xml", "good");
    Put(inbox_ / "b.xml", "draft");
    Put(inbox_ / "c.xml", "conflict");
    Put(inbox_ / "d.xml", std::string(Inbox::kMaxFileBytes + 1, 'x'));
    // Not alert files: hidden, still being copied, a folder, a link out.
    for (const char* name : {".hidden.xml", "e.xml.part", "f.TMP"}) Put(inbox_ / name, "good");
    fs::create_directory(inbox_ / "sub");
    Put(dir_ / "outside.xml", "good");
    fs::create_symlink(dir_ / "outside.xml", inbox_ / "link.xml");

    EXPECT_EQ(inbox.Scan(), 4);
    const std::vector<FakeHandler::Call> calls = handler_.Calls();
    ASSERT_EQ(calls.size(), 3u);  // d.xml was not read
    EXPECT_EQ(calls[0].body, "good");
    EXPECT_EQ(calls[0].source, "inbox:a.xml");
    EXPECT_EQ(calls[1].source, "inbox:b.xml");

    EXPECT_EQ(Read(inbox_ / "done" / "a.xml"), "earlier");
    EXPECT_EQ(Read(inbox_ / "done" / "a.xml.1"), "good");
    EXPECT_EQ(Read(inbox_ / "rejected" / "b.xml"), "draft");
    EXPECT_EQ(Read(inbox_ / "rejected" / "b.xml.reason"), "status: \"Draft\" refused\n");
    EXPECT_EQ(Read(inbox_ / "rejected" / "c.xml.reason"), "status 409\n");
    EXPECT_EQ(Read(inbox_ / "rejected" / "d.xml.reason"), "file larger than 1 MiB\n");
    for (const char* name : {".hidden.xml", "e.xml.part", "f.TMP", "link.xml", "sub"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(inbox_ / name))) << name;
    EXPECT_EQ(Read(dir_ / "outside.xml"), "good");

    const std::vector<std::string> lines = log_.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "网关收件箱: a.xml → done/a.xml.1");
    EXPECT_EQ(lines[1], "网关收件箱: b.xml → rejected：status: \"Draft\" refused");

    // A second file of the same name is rejected beside the first.
    Put(inbox_ / "b.xml", "draft");
    EXPECT_EQ(inbox.Scan(), 1);
    EXPECT_EQ(Read(inbox_ / "rejected" / "b.xml.1.reason"), "status: \"Draft\" refused\n");
    EXPECT_EQ(inbox.Scan(), 0);
}

TEST_F(InboxTest, LeavesFilesStillBeingWrittenAndOnesThatCannotBeMoved) {
    fs::create_directories(inbox_ / "done");
    Put(inbox_ / "fresh.xml", "good");
    {
        Inbox patient(inbox_, handler_, log_.Sink(), std::chrono::hours(1));
        EXPECT_EQ(patient.Scan(), 0);
    }
    EXPECT_EQ(handler_.Count(), 0u);
    fs::remove(inbox_ / "fresh.xml");

    // Its name is taken in done/, and with a suffix it would be too long.
    const std::string name = std::string(251, 'n') + ".xml";
    Put(inbox_ / "done" / name, "earlier");
    Put(inbox_ / name, "good");
    Inbox inbox(inbox_, handler_, log_.Sink(), std::chrono::milliseconds(0));
    EXPECT_EQ(inbox.Scan(), 1);
    EXPECT_TRUE(fs::exists(inbox_ / name));
    EXPECT_EQ(log_.Containing("无法移动，留在原处"), 1u);
    EXPECT_EQ(inbox.Scan(), 0);  // not posted again
    EXPECT_EQ(handler_.Count(), 1u);
    EXPECT_EQ(log_.Lines().size(), 1u);

    // Changed, it is taken again.
    fs::last_write_time(inbox_ / name, fs::last_write_time(inbox_ / name) - std::chrono::hours(1));
    EXPECT_EQ(inbox.Scan(), 1);
    EXPECT_EQ(handler_.Count(), 2u);
}

}  // namespace
}  // namespace pelmora::gateway
