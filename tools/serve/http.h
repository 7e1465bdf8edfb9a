// HTTP in front of the service: the routes, the token and the page.
#pragma once

#include <memory>
#include <string>

#include "tools/serve/gate.h"
#include "tools/serve/service.h"

namespace httplib {
class Server;
}

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
  // Serves until stop(); false when the server could not run.
  bool run();
  void stop();

 private:
  Service& service_;
  std::string token_;
  Gate gate_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace tarvion::serve
