#include "sample_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "sample_pictures.h"  // generated at build time from examples/pictures

namespace desk_demo {

const std::vector<SamplePicture>& BundledPictures() {
  static const std::vector<SamplePicture> pictures = [] {
    std::vector<SamplePicture> out;
    for (const auto& p : kSamplePictures)
      out.push_back({p.name, p.type, std::string(reinterpret_cast<const char*>(p.data), p.size)});
    return out;
  }();
  return pictures;
}

struct SampleServer::Impl {
  std::vector<SamplePicture> pictures;
  httplib::Server server;
  std::thread thread;
  int port = 0;
  std::atomic<int> requests{0};
  size_t pace = 0;
};

SampleServer::SampleServer(std::vector<SamplePicture> pictures) : impl_(std::make_unique<Impl>()) {
  impl_->pictures = std::move(pictures);
  for (const auto& p : impl_->pictures) {
    impl_->server.Get("/pictures/" + p.name, [this, &p](const httplib::Request&, httplib::Response& res) {
      ++impl_->requests;
      if (impl_->pace == 0) return res.set_content(p.bytes, p.type.c_str());
      // A tenth of a second's worth at a time.
      const size_t piece = std::max<size_t>(1, impl_->pace / 10);
      res.set_content_provider(p.bytes.size(), p.type.c_str(), [&p, piece](size_t offset, size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return sink.write(p.bytes.data() + offset, std::min(piece, p.bytes.size() - offset));
      });
    });
  }
}

SampleServer::~SampleServer() { Stop(); }

void SampleServer::Pace(size_t bytesPerSecond) { impl_->pace = bytesPerSecond; }

bool SampleServer::Start() {
  if (impl_->thread.joinable()) return true;
  impl_->port = impl_->server.bind_to_any_port("127.0.0.1");
  if (impl_->port <= 0) return false;
  impl_->thread = std::thread([this] { impl_->server.listen_after_bind(); });
  // Bounded wait for the accept loop, so that an immediate Stop finds it running.
  for (int i = 0; i < 2000 && !impl_->server.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void SampleServer::Stop() {
  if (!impl_->thread.joinable()) return;
  impl_->server.stop();
  impl_->thread.join();
}

int SampleServer::Port() const { return impl_->port; }

std::vector<std::string> SampleServer::Urls() const {
  std::vector<std::string> urls;
  for (const auto& p : impl_->pictures)
    urls.push_back("http://127.0.0.1:" + std::to_string(impl_->port) + "/pictures/" + p.name);
  return urls;
}

int SampleServer::RequestCount() const { return impl_->requests; }

}  // namespace desk_demo
