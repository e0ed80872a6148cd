// `kalo-publish serve` as clients meet it, over real sockets: the requests it refuses,
// and idle connections that must not keep the others waiting.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "helpers/posix/publish_server.h"
#include "helpers/temp_folder.h"
#include "platform/posix/unique_fd.h"

namespace {

using namespace std::chrono_literals;

// A connection to the server on the loopback `port`; a reply is waited for `patience`
// at most.
class Connection {
 public:
  Connection(int port, std::chrono::seconds patience) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const timeval limit{static_cast<time_t>(patience.count()), 0};
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ =
        ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }

  bool Connected() const { return connected_; }

  void Send(std::string_view text) {
    ::send(socket_.get(), text.data(), text.size(), MSG_NOSIGNAL);
  }

  // What the server sends until it closes the connection, or until the patience ends.
  std::string Reply() {
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(socket_.get(), buffer, sizeof buffer, 0)) > 0;) {
      reply.append(buffer, static_cast<std::size_t>(got));
    }
    return reply;
  }

 private:
  kalo::platform::UniqueFd socket_;
  bool connected_ = false;
};

std::string Request(std::string_view target) {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: kalo\r\nConnection: close\r\n\r\n";
}

class PublishServeTest : public testing::Test {
 protected:
  PublishServeTest() {
    std::filesystem::create_directories(folder_.Path() / "server/trabalho/versao");
    std::filesystem::create_directories(folder_.Path() / "server/trabalho/manifests");
    folder_.Write("server/trabalho/versao/logo.jpg", "jpeg");
    folder_.Write("server/trabalho/manifests/default.txt", "licenca_\r\n_licenca");
  }

  // The answer to one request on a connection of its own.
  std::string Get(std::string_view target, std::chrono::seconds patience = 5s) {
    Connection connection(port_, patience);
    connection.Send(Request(target));
    return connection.Reply();
  }

  kalo::test::TempFolder folder_;
  const kalo::test::PublishServer server_{folder_ / "server", folder_ / "server.log"};
  const int port_ = std::stoi(server_.Url().substr(server_.Url().rfind(':') + 1));
};

TEST_F(PublishServeTest, ControlCharactersInAPathAreRefused) {
  const struct {
    std::string_view target;
    std::string_view status_line;
  } cases[] = {
      {"/trabalho/versao/logo.jpg", "HTTP/1.1 200 "},
      // The name up to the NUL would be served in its place.
      {"/trabalho/versao/logo.jpg%00.txt", "HTTP/1.1 400 "},
      {"/trabalho/versao/logo.jpg%0A", "HTTP/1.1 400 "},
      {"/trabalho/versao/logo%1F.jpg", "HTTP/1.1 400 "},
      {"/trabalho/versao/logo.jpg%7F", "HTTP/1.1 400 "},
      {"/trabalho/versao.php?id=default", "HTTP/1.1 200 "},
      {"/trabalho/versao.php?id=default%00x", "HTTP/1.1 400 "},
  };
  for (const auto& row : cases) {
    EXPECT_TRUE(Get(row.target).starts_with(row.status_line)) << row.target;
  }
}

// Connections that send nothing, or half a request, each hold a worker of the server
// until they time out; a request that comes meanwhile is answered all the same.
TEST_F(PublishServeTest, IdleConnectionsDoNotHoldUpARequest) {
  std::vector<Connection> idle;
  for (int i = 0; i < 128; ++i) {
    Connection& connection = idle.emplace_back(port_, 5s);
    ASSERT_TRUE(connection.Connected());
    if (i % 2 == 1) {
      connection.Send("GET /trabalho/versao/logo.jpg HTTP/1.1\r\nHost: kalo\r\n");
    }
    // The server's queue of connections not yet taken holds five: past that the system
    // drops a connection attempt and the client tries again a second later.
    std::this_thread::sleep_for(1ms);
  }
  // Far less than the time any of them holds its worker.
  const std::string reply = Get("/trabalho/versao/logo.jpg", 2s);
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 ")) << reply;
  EXPECT_TRUE(reply.ends_with("\r\n\r\njpeg")) << reply;
}

}  // namespace
