// A web server on 127.0.0.1 that serves the bytes of one file to every GET
// request, byte ranges included (demuxers seek in a file over HTTP), on a
// thread of its own until it is destroyed. Only for tests on this machine.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class HttpFileServer {
 public:
  // Listens on a free port of 127.0.0.1; port() is 0 when it could not.
  explicit HttpFileServer(const std::string& path);
  ~HttpFileServer();
  HttpFileServer(const HttpFileServer&) = delete;
  HttpFileServer& operator=(const HttpFileServer&) = delete;

  int port() const { return port_; }

 private:
  void serve();
  void answer(int client) const;

  std::string body_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
