// The HTTP seam: open a session, open a URL on it, read the body piece by piece, close; or,
// on a session that can (TransferSession), start transfers that run by themselves.
//
// A request never throws and never reports: anything that goes wrong (a malformed URL, a
// scheme other than http or https, a refused connection, an error status, a timeout, a body
// over the cap, a dropped connection) makes Read return 0 and Succeeded false. The body of a
// Request is pulled: bytes are fetched from the network as Read asks for them, so memory
// stays bounded by what the caller keeps. A Transfer keeps its whole body as it arrives.
#pragma once

#include "desk/export.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace desk::http {

struct DESK_API Options {
  // Time to establish the connection.
  std::chrono::milliseconds connectTimeout{60000};
  // Longest wait for any byte (headers or body) once the request has started. It catches
  // complete silence only; a trickle is caught by the low-speed bound below.
  std::chrono::milliseconds stallTimeout{60000};
  // Low-speed bound: a transfer that receives fewer than lowSpeedBytesPerSecond on average
  // over any lowSpeedWindow (counted from the request's start, window after window) fails,
  // so that a server sending a byte every few seconds cannot hold the caller for long.
  // 1 KB/s over 30 s by default; a rate of 0 turns the bound off.
  uint64_t lowSpeedBytesPerSecond = 1024;
  std::chrono::milliseconds lowSpeedWindow{30000};
  // Redirects followed before the request fails.
  long maxRedirects = 10;
  // Longest body accepted; a longer one fails the request.
  uint64_t maxBodyBytes = uint64_t{512} * 1024 * 1024;
  // A certificate bundle (PEM) to trust instead of the system's; empty: the system's store.
  std::string caFile;
};

// Where ReadAll puts a body: memory it hands out at its end, then keeps.
class DESK_API BodySink {
 public:
  virtual ~BodySink() = default;
  // Room for at least `least` more bytes at the end of what was kept (least <= the piece
  // ReadAll was given); `room` is set to all the room there is. May throw std::bad_alloc.
  virtual uint8_t* Room(size_t least, size_t& room) = 0;
  // Keeps the next `n` bytes of that room.
  virtual void Commit(size_t n) = 0;
};

class DESK_API Request {
 public:
  virtual ~Request() = default;
  // Copies up to `size` bytes of the body into `buffer`. 0 means the end of the body or a
  // failure; Succeeded tells which.
  virtual size_t Read(uint8_t* buffer, size_t size) = 0;
  // Reads the rest of the body into `sink`. A client of the host's own is asked for it by
  // Read, in pieces of `piece` bytes, to the 0-byte read that ends it; the libcurl client
  // writes what it receives straight into the sink, without copying it in between.
  virtual void ReadAll(BodySink& sink, size_t piece);
  // True when the body has been read to its end and the final response (after redirects)
  // had a 2xx status.
  virtual bool Succeeded() const = 0;
};

class DESK_API Session {
 public:
  virtual ~Session() = default;
  // A GET of `url` (UTF-8; see EncodeUrl). Never fails itself: see Request.
  virtual std::unique_ptr<Request> OpenUrl(std::string_view url) = 0;
};

// A GET that runs by itself on the client's own transfer thread while the caller does other
// things (paints, decodes, reads another body). Dropping it stops it.
class DESK_API Transfer {
 public:
  virtual ~Transfer() = default;
  struct Progress {
    uint64_t announced = 0;    // the body's length as its headers give it; 0 while unknown
    uint64_t received = 0;     // bytes of the body so far
    bool multiplexed = false;  // on a connection shared with other transfers (HTTP/2 streams)
  };
  // True once it ended, whole or failed. Never waits.
  virtual bool Done() const = 0;
  // Once Done: true when the body arrived whole under a 2xx final status (as Request's).
  virtual bool Succeeded() const = 0;
  // Once Done and Succeeded: the body, handed over once; empty otherwise.
  virtual std::vector<uint8_t> TakeBody() = 0;
  virtual Progress Seen() const = 0;
};

// What a session offers besides OpenUrl when it can run transfers by themselves (the libcurl
// client's sessions can; reach it with dynamic_cast from the Session).
class DESK_API TransferSession {
 public:
  virtual ~TransferSession() = default;
  // Starts a GET of `url` (UTF-8; never fails itself, as OpenUrl). `onEnd` runs once when it
  // ends, on the transfer thread (or before Start returns, for one that could not start),
  // and never after the Transfer was dropped; it must be quick and safe on any thread.
  // Null, with `onEnd` never run, when no transfer thread could be started (the process is
  // out of threads): the caller reads the URL itself, with OpenUrl.
  virtual std::unique_ptr<Transfer> Start(std::string_view url, std::function<void()> onEnd) = 0;
};

class DESK_API Client {
 public:
  virtual ~Client() = default;
  virtual std::unique_ptr<Session> OpenSession(std::string_view userAgent) = 0;
};

// libcurl: GET only, http and https only (also for every redirect), proxies from the
// environment (http_proxy, https_proxy, no_proxy), no-cache request headers so that caches
// on the way ask the origin server. One client keeps its connections, name look-ups and TLS
// sessions between requests (a keep-alive connection serves the next picture without a new
// handshake), and speaks HTTP/2 where an https server offers it. Its sessions are
// TransferSessions: their transfers run on one thread of the client's, made on first use,
// side by side (a connection each to an HTTP/1.1 server, streams of one to an HTTP/2 one).
DESK_API std::shared_ptr<Client> MakeCurlClient(const Options& options = {});

// The client the download code uses; a libcurl client with default options unless the host
// installed another (a GUI backend, or a test with short timeouts).
DESK_API Client& CurrentClient();
DESK_API std::shared_ptr<Client> SharedClient();
DESK_API void SetClient(std::shared_ptr<Client> client);

// A URL as browsers send it: the text as UTF-8, with spaces, control characters, bytes
// 0x80 and above and the characters "<>\"`{}|\\^" percent-encoded outside the host name;
// existing %XX escapes and everything else stay as they are. The host name is left for
// the client's international-name handling.
DESK_API std::string EncodeUrl(std::string_view utf8);

}  // namespace desk::http
