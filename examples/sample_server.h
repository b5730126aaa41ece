// A small picture server for the demo: cpp-httplib on 127.0.0.1 with an ephemeral port,
// serving the sample pictures compiled into the program (or files a caller adds).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace desk_demo {

struct SamplePicture {
  std::string name;   // the file name, also the last piece of its URL
  std::string type;   // its media type
  std::string bytes;  // the file as it is
};

// The pictures bundled with the demo, one in each supported format.
const std::vector<SamplePicture>& BundledPictures();

class SampleServer {
 public:
  // Serves `pictures` (the bundled ones by default) under "/pictures/<name>".
  explicit SampleServer(std::vector<SamplePicture> pictures = BundledPictures());
  ~SampleServer();  // stops the server
  SampleServer(const SampleServer&) = delete;
  SampleServer& operator=(const SampleServer&) = delete;

  // Each picture is sent at most `bytesPerSecond` a connection (0, the default: at once), so
  // that a person can watch a window fill. Set before Start.
  void Pace(size_t bytesPerSecond);
  // Binds 127.0.0.1 on a free port and serves on a thread of its own. False when the port
  // cannot be bound.
  bool Start();
  void Stop();
  int Port() const;
  // "http://127.0.0.1:<port>/pictures/<name>" for every picture, in order.
  std::vector<std::string> Urls() const;
  // Requests served so far.
  int RequestCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace desk_demo
