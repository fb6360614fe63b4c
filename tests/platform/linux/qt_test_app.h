// The one Qt application object of the platform tests (offscreen, so the
// window tests need no display), and a bounded wait on the event loop.
#pragma once

#include <QApplication>
#include <functional>

namespace tarvion::test {

QApplication& qt_app();

// Runs the event loop until done() or until the bound (a real-time safety
// net, generous: a test that needs it has failed). Returns done().
bool process_until(const std::function<bool()>& done, int bound_ms = 5000);

// Runs the event loop for a while, for checking that something does NOT happen.
void process_for(int ms);

}  // namespace tarvion::test
