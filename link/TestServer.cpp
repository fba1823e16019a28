#include "TestServer.h"

namespace dovrik {

CTestServer::~CTestServer() {
    StopService();
}

void CTestServer::OnSpareHook(std::uint32_t) {}

}  // namespace dovrik
