// A web server on 127.0.0.1 that serves the bytes of one file to every GET
// request, byte ranges included (demuxers seek in a file over HTTP), on a
// thread of its own until it is destroyed; or that misbehaves as servers
// do: an error status, no byte ranges, a connection cut or left hanging
// part way through the file, or no answer at all. Only for tests on this
// machine.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

// How the server answers.
struct HttpBehaviour {
  int status = 200;    // anything else: that status, with no body
  bool ranges = true;  // false: byte ranges are ignored and not announced
  // The file's bytes from this offset on are never sent: the response that
  // reaches it ends there, and so does the server (later connections get
  // no answer).
  std::size_t cut_at = static_cast<std::size_t>(-1);
  bool hang = false;  // at the cut, and for any request: keep the connection open and send nothing
};

class HttpFileServer {
 public:
  // Listens on a free port of 127.0.0.1; port() is 0 when it could not.
  explicit HttpFileServer(const std::string& path, const HttpBehaviour& behaviour = HttpBehaviour());
  ~HttpFileServer();
  HttpFileServer(const HttpFileServer&) = delete;
  HttpFileServer& operator=(const HttpFileServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT/NAME".
  std::string url(const std::string& name) const;

 private:
  void serve();
  bool answer(int client);
  bool end_here(int client);

  std::string body_;
  HttpBehaviour behaviour_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  bool cut_ = false;          // on the server's thread only
  std::vector<int> hanging_;  // connections left open, closed at the end
  std::thread thread_;
};

// A port of 127.0.0.1 that nothing listens on (a connection is refused).
int closed_port();
