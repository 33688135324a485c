// The embedded update server: what it serves, what it refuses, and the program around it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/net/downloadFileCode.h"
#include "platform/net/portNumber.h"
#include "tests/support/childProcess.h"
#include "tests/support/testSupport.h"
#include "tests/support/updateServerFixture.h"

namespace {

namespace fs = std::filesystem;

struct TrawReply {
    int status = 0;
    std::string headers;
    std::string body;
};

// Sends the request target exactly as given (no client normalises "..") and reads the reply.
TrawReply rawGet(int port, const std::string& target) {
    const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        throw std::runtime_error("cannot connect");
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: raw test\r\n"
                                "Connection: close\r\n\r\n";
    ::send(connection, request.data(), request.size(), 0);
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(connection, buffer, sizeof(buffer), 0)) > 0;) reply.append(buffer, got);
    ::close(connection);
    TrawReply parsed;
    const size_t headerEnd = reply.find("\r\n\r\n");
    parsed.status = std::stoi(reply.substr(9, 3));
    parsed.headers = reply.substr(0, headerEnd);
    parsed.body = reply.substr(headerEnd + 4);
    return parsed;
}

// A server root inside a parent folder that also holds files the server must never give out,
// one of them in a sibling folder whose name begins with the root's.
struct TservedFolder {
    TtemporaryFolder parent;
    std::string root = parent.file("root");
    TservedFolder() {
        fs::create_directories(root + "/gfx/sub");
        writeFile(root + "/gfx/bigLogo.tga", std::string(3000, 'L'));
        writeFile(parent.file("secret.txt"), "secret");
        fs::create_symlink(parent.file("secret.txt"), root + "/link.txt");
        fs::create_directories(parent.file("rootX"));
        writeFile(parent.file("rootX/secret.txt"), "secret");
        fs::create_symlink("../rootX/secret.txt", root + "/sibling.txt");
    }
};

}  // namespace

TEST(UpdateServer, ServesAFileWithItsContentLength) {
    TservedFolder folder;
    TupdateServerFixture server(folder.root);
    const TrawReply reply = rawGet(server.port(), "/gfx/bigLogo.tga");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, std::string(3000, 'L'));
    EXPECT_NE(reply.headers.find("Content-Length: 3000"), std::string::npos) << reply.headers;
}

TEST(UpdateServer, RefusesEverythingOutsideTheRootAndEveryFolder) {
    TservedFolder folder;
    TupdateServerFixture server(folder.root);
    for (const std::string target : {"/../secret.txt", "/%2e%2e/secret.txt", "/gfx/%2E%2E/%2e%2e/secret.txt",
                                     "/..%2fsecret.txt", "/gfx/..%5c..%5csecret.txt", "/link.txt", "/sibling.txt", "/", "/gfx",
                                     "/gfx/sub/", "/gfx/missing.tga", "/gfx/bigLogo.tga%00.txt"}) {
        const TrawReply reply = rawGet(server.port(), target);
        EXPECT_EQ(reply.status, 404) << target;
        EXPECT_EQ(reply.body.find("secret"), std::string::npos) << target;
    }
}

TEST(UpdateServer, RecordsMethodPathAgentAndStatusOfEachRequest) {
    TservedFolder folder;
    TupdateServerFixture server(folder.root);
    rawGet(server.port(), "/gfx/bigLogo.tga");
    rawGet(server.port(), "/nothing");
    const std::vector<TservedRequest> requests = server.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requestLogLine(requests[0]), "GET /gfx/bigLogo.tga \"raw test\" 200");
    EXPECT_EQ(requestLogLine(requests[1]), "GET /nothing \"raw test\" 404");
}

TEST(UpdateServer, StoppingBeforeServingDoesNotHang) {
    TservedFolder folder;
    TupdateServer server(folder.root);
    server.bind(0);
    server.stop();
    server.serve();
    SUCCEED();
}

TEST(UpdateServerProgram, AnnouncesItsAddressLogsRequestsAndStopsOnSigterm) {
    TservedFolder folder;
    TchildProcess program(builtProgram("tools/trellik-update-server"), {"--root", folder.root, "--port", "0"},
                          folder.parent.path(), {}, folder.parent.file("stderr.txt"));
    std::string line;
    ASSERT_TRUE(program.readLine(line));
    ASSERT_EQ(line.rfind("listening on http://127.0.0.1:", 0), 0u) << line;
    ASSERT_EQ(line.back(), '/');
    TtemporaryFolder game;
    TworkingDirectory inGame(game.path());
    downloadFile(line.substr(std::string("listening on ").size()) + "gfx/bigLogo.tga", "gfx/bigLogo.tga", false);
    ASSERT_TRUE(program.readLine(line));
    EXPECT_EQ(line, "GET /gfx/bigLogo.tga \"Trellik-Downloader/1.0\" 200");
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(), 0);
}

// Both servers read --port through it: 0 asks for any free port, 65535 is the last there is.
TEST(PortNumber, WholeNumbersFromZeroTo65535Only) {
    EXPECT_EQ(portNumberFromText("0"), 0);
    EXPECT_EQ(portNumberFromText("65535"), 65535);
    EXPECT_EQ(portNumberFromText("8090"), 8090);
    EXPECT_FALSE(portNumberFromText("-1"));
    EXPECT_FALSE(portNumberFromText("65536"));
    EXPECT_FALSE(portNumberFromText("80x"));
    EXPECT_FALSE(portNumberFromText(""));
    EXPECT_FALSE(portNumberFromText("99999999999999999999"));
}

TEST(UpdateServerProgram, RefusesBadArgumentsAndATakenPort) {
    TservedFolder folder;
    const auto exitCodeFor = [&](const std::vector<std::string>& arguments) {
        TchildProcess program(builtProgram("tools/trellik-update-server"), arguments, folder.parent.path(), {},
                              folder.parent.file("stderr.txt"));
        return program.wait();
    };
    EXPECT_EQ(exitCodeFor({"--root", folder.root}), 2);
    EXPECT_EQ(exitCodeFor({"--root", folder.root, "--port", "70000"}), 2);
    EXPECT_EQ(exitCodeFor({"--port", "0"}), 2);
    EXPECT_EQ(exitCodeFor({"--root", folder.parent.file("none"), "--port", "0"}), 1);
    TupdateServerFixture taken(folder.root);
    EXPECT_EQ(exitCodeFor({"--root", folder.root, "--port", std::to_string(taken.port())}), 1);
    EXPECT_NE(readFile(folder.parent.file("stderr.txt")).find("Cannot listen"), std::string::npos);
}
