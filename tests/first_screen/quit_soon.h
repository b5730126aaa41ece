// Ends a first-screen host's event loop soon after its application object is made, so that the
// host, compiled unchanged, runs to its end under the test.
#pragma once

#include <QCoreApplication>
#include <QTimer>

namespace {
void QuitSoon() {
  QTimer::singleShot(300, QCoreApplication::instance(), [] {
    // Only once a window is on screen: the host got as far as showing it.
    std::puts("first-screen host: the event loop runs, quitting");
    QCoreApplication::quit();
  });
}
}  // namespace
Q_COREAPP_STARTUP_FUNCTION(QuitSoon)
