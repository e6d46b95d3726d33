// Signals: the flags the handlers set, the wake-up pipe, the signal state a
// child starts with, and the waits that serve signals on the main flow.
#pragma once

#include <csignal>
#include <cstdint>

// Set by the signal handlers, acted on by the main flow (see act_on_signals).
// interrupt_pending asks for the cleanup exit (SIGINT, SIGTERM, SIGHUP);
// ending_signal is the SIGTERM or SIGHUP that the exit then reports.
extern volatile sig_atomic_t interrupt_pending;
extern volatile sig_atomic_t ending_signal;
extern volatile sig_atomic_t resize_pending;

// signals on the main flow (signals.cpp)
// The handler of SIGINT, SIGTERM and SIGHUP.
void on_interrupt(int signal);
// Descriptor that becomes readable whenever a handled signal arrives, so
// that every wait can include it and none can miss a signal.
int signal_wakeup_fd();
void drain_signal_wakeups();
// Async-signal-safe: wakes whatever wait is in progress on the main flow.
void signal_wakeup_notify();
// Around fork: the parent blocks every handled signal (and SIGQUIT) so that
// no handler of ours runs in the child, which then restores their default
// actions and the mask in `saved_mask` before it execs.
void child_signals_block(sigset_t *saved_mask);
void child_signals_default(const sigset_t *saved_mask);
// Carries out what the handlers recorded: the cleanup exit for an
// interrupt, the window rebuild for a resize (once the screen exists).
void act_on_signals();
// Sleeps `ms` milliseconds, acting on signals as they arrive; a resize
// does not shorten the pace, an interrupt ends the program at once.
void pace_sleep(uint32_t ms);
// Blocking key read (on the main window or stdscr) that still serves
// signals while it waits.
// Returns KEY_RESIZE after a rebuild, for a caller that must redraw.
int wait_for_key(bool from_main_window);
// The same for a key typed by the user: a resize keeps it waiting.
void wait_for_any_key(bool from_main_window);
