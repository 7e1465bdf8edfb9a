// HTTP in front of the service: the routes, the token and the page.
//
// One thread takes every connection, without blocking: reading a request,
// waiting for its printer and writing its answer are steps it returns to when
// they can go on. A call that waits on one printer therefore never holds back
// a call to another, and a client that trickles its request or never reads its
// answer holds its own connection and nothing else, until its time runs out.
#pragma once

#include <memory>
#include <string>

#include "tools/serve/service.h"

namespace tarvion::serve {

// The browser page served at "/".
const char* pageHtml();

class HttpFront {
 public:
  // token empty: no Authorization asked.
  HttpFront(Service& service, std::string token);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Binds the address (port 0: any free one); the port, or -1 with a message.
  int bind(const std::string& host, int port, std::string& error);
  // Serves until stop(); false when the server could not run. A stop that
  // comes first makes it return at once.
  bool run();
  void stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvion::serve
