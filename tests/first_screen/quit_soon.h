// Ends a first-screen host's event loop soon after its application object is made, so that the
// host, compiled unchanged (its main renamed host_main), runs to its end under the test: it
// passes when the loop ran and the host returned 0.
#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {
bool loop_ran = false;

void QuitSoon() {
  QTimer::singleShot(300, QCoreApplication::instance(), [] {
    loop_ran = true;
    QCoreApplication::quit();
  });
}

int Verdict(int host_status) {
  std::printf("first-screen host: returned %d, event loop %s\n", host_status, loop_ran ? "ran" : "never ran");
  return host_status == 0 && loop_ran ? 0 : 1;
}
}  // namespace
Q_COREAPP_STARTUP_FUNCTION(QuitSoon)
