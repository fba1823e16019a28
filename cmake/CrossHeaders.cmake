# Asio is header-only, and Debian installs its headers for the build machine in
# /usr/include. A cross build must not search that folder (its C library
# headers would shadow the target's), so it sees Asio alone through a folder
# of links in the build tree.
set(PELMORA_ASIO_SOURCE_DIR /usr/include CACHE PATH "Folder holding asio.hpp and asio/")
if(NOT EXISTS ${PELMORA_ASIO_SOURCE_DIR}/asio.hpp)
    message(FATAL_ERROR "asio.hpp not found in ${PELMORA_ASIO_SOURCE_DIR} (libasio-dev)")
endif()
set(ASIO_INCLUDE_DIR ${CMAKE_BINARY_DIR}/asio-include)
file(MAKE_DIRECTORY ${ASIO_INCLUDE_DIR})
file(CREATE_LINK ${PELMORA_ASIO_SOURCE_DIR}/asio.hpp ${ASIO_INCLUDE_DIR}/asio.hpp SYMBOLIC)
file(CREATE_LINK ${PELMORA_ASIO_SOURCE_DIR}/asio ${ASIO_INCLUDE_DIR}/asio SYMBOLIC)
