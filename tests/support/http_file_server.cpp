#include "support/http_file_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/run_binary.h"

namespace {

// The request head, read until its blank line; bounded in size and time.
std::string read_request(int client) {
  std::string request;
  char buffer[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
    pollfd ready = {client, POLLIN, 0};
    if (poll(&ready, 1, 5000) <= 0) break;
    const ssize_t got = recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<std::size_t>(got));
  }
  return request;
}

bool send_all(int client, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = send(client, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

HttpFileServer::HttpFileServer(const std::string& path, const HttpBehaviour& behaviour)
    : body_(read_file(path)), behaviour_(behaviour) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 8) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

HttpFileServer::~HttpFileServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  for (int client : hanging_) close(client);
  if (listener_ >= 0) close(listener_);
}

std::string HttpFileServer::url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

void HttpFileServer::serve() {
  while (!stopping_) {
    pollfd ready = {listener_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    if (answer(client)) close(client);
  }
}

// A server that has gone quiet (the connection is kept, unanswered) or
// away (closed). True when the caller is to close it.
bool HttpFileServer::end_here(int client) {
  if (!behaviour_.hang) return true;
  hanging_.push_back(client);
  return false;
}

// 200 with the whole file, or 206 with the range asked for ("bytes=A-" or
// "bytes=A-B"); as the behaviour says otherwise. True when the caller is
// to close the connection.
bool HttpFileServer::answer(int client) {
  const std::string request = read_request(client);
  if (cut_ || (behaviour_.hang && behaviour_.cut_at == 0)) return end_here(client);
  std::string head;
  if (behaviour_.status != 200) {
    head = "HTTP/1.1 " + std::to_string(behaviour_.status) +
           (behaviour_.status == 404 ? " Not Found" : " Error") +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    send_all(client, head.data(), head.size());
    return true;
  }
  std::size_t first = 0, last = body_.empty() ? 0 : body_.size() - 1;
  bool ranged = false;
  const std::size_t range = request.find("\r\nRange: bytes=");
  if (behaviour_.ranges && range != std::string::npos) {
    const char* text = request.c_str() + range + 15;
    char* end = nullptr;
    first = std::strtoull(text, &end, 10);
    if (*end == '-' && end[1] >= '0' && end[1] <= '9') last = std::strtoull(end + 1, nullptr, 10);
    ranged = true;
  }
  if (first >= body_.size()) {
    head = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" + std::to_string(body_.size()) +
           "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    send_all(client, head.data(), head.size());
    return true;
  }
  if (last >= body_.size()) last = body_.size() - 1;
  const std::size_t length = last - first + 1;
  head = std::string(ranged ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n") +
         "Content-Type: video/mp4\r\n" + (behaviour_.ranges ? "Accept-Ranges: bytes\r\n" : "") +
         "Content-Length: " + std::to_string(length) + "\r\n";
  if (ranged)
    head += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
            std::to_string(body_.size()) + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (!send_all(client, head.data(), head.size())) return true;
  if (last < behaviour_.cut_at) {
    send_all(client, body_.data() + first, length);
    return true;
  }
  if (first < behaviour_.cut_at) send_all(client, body_.data() + first, behaviour_.cut_at - first);
  cut_ = true;
  return end_here(client);
}

int closed_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  if (fd >= 0) close(fd);
  return port;
}
