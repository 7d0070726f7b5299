#include "app/quit_signal.h"

#include <pthread.h>

#include <csignal>

#include "app/client.h"
#include "app/input_wait.h"

namespace {

constexpr int QUIT_SIGNALS[] = {SIGINT, SIGTERM};

volatile std::sig_atomic_t caught = 0;

void on_quit_signal(int number) {
  caught = number;
  quit_requested = true;
  input_wake();
}

void set_handler(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int number : QUIT_SIGNALS) sigaddset(&action.sa_mask, number);
  // Calls the signal interrupts in the library and in our sockets go on.
  action.sa_flags = SA_RESTART;
  for (int number : QUIT_SIGNALS) sigaction(number, &action, nullptr);
}

}  // namespace

void quit_signals_install() { set_handler(on_quit_signal); }

int quit_signal_caught() { return caught; }

void quit_signal_reraise() {
  const int number = caught;
  if (number == 0) return;
  std::signal(number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(number);
}

void quit_signals_reset() {
  set_handler(SIG_DFL);
  caught = 0;
}
