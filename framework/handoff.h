// The hand-off between worker threads and the GUI thread: messages sent
// across threads, requests answered later (message boxes), and the wait that
// keeps the GUI thread serving them. Inside the framework; not for the
// program.
//
// Contract
//
// Who calls what:
// - Every window lives on the GUI thread (the QApplication's) and every
//   handler runs there. Any thread may call SendMessageA and
//   AfxSendMessageSeries; from another thread the call queues one record and
//   the caller sleeps until the last handler of that record has run, or the
//   window died, or the application went away (the result is then what was
//   delivered: 0 for a message, the count so far for a series).
// - The GUI thread serves the queue from its event loop: a sender wakes it
//   through an eventfd watched by a socket notifier, so every event loop
//   serves it (the modal loops of dialogs, message boxes and menus, and
//   AfxWaitServingMessages). Neither side polls: the GUI thread sleeps in its
//   event loop while the queue is empty, and a sender sleeps until its record
//   is completed.
// - Records are served in the order they were queued; a series is one record
//   whose messages are dispatched in order. A series that outlasts a slice
//   gives the event loop a turn and then goes on before anything queued
//   after it, so painting and input get through during a long one.
// - A handler may wait in turn (AfxWaitServingMessages, a modal loop): the
//   records queued behind its own are served from that nested loop.
// - AfxWaitServingMessages may be called on any thread. On the GUI thread it
//   holds user input and timer ticks back while it waits (message boxes
//   excepted) and delivers them once the outermost wait ends. Its predicate
//   runs on the waiting thread, so what it reads must be an atomic or be
//   guarded by a lock. A GUI thread that blocks in any other way while a
//   worker sends to it deadlocks, as on the platform this interface copies.
// - Every end of a framework thread, and every AfxWakeWaiters call, makes
//   each AfxWaitServingMessages look at its predicate again.
//
// Why it is safe:
// - The queue, the requests awaiting an answer and the pending-wake flag are
//   in one record (Link, handoff.cpp) behind one mutex; the waiters'
//   generation count is behind a mutex of its own (servingwait.cpp). Neither
//   lock is held while the other is taken, nor while a handler runs.
// - The only lock-free datum is a record's done word: the GUI thread writes
//   the result, then stores 1 with release order; the sender loads it with
//   acquire order before it reads the result. Nothing else is shared without
//   a mutex (framework thread ids come from an atomic counter, which needs
//   nothing but atomicity), so no access needs sequential consistency.
// - Nor does a wait's predicate: a wake passes through a mutex (the waiters'
//   generation, or the link's pending-wake flag that the GUI thread clears
//   before it looks again), so whatever the waking thread stored before
//   AfxWakeWaiters, or before its end, is seen at the waiter's next look, in
//   any memory order.
// - A record lives on its sender's stack. The GUI thread does not touch it
//   after the store of its done word; the wake that follows names only its
//   address (a futex), which the kernel matches without reading it.
// - A request answered later (a message box) is known to the GUI thread by a
//   ticket, never by a pointer: an answer that comes after the request was
//   abandoned finds no ticket and does nothing.
// - When the application goes away the link stops accepting and completes
//   everything queued or awaiting an answer; later sends fail at once.
// - The link, the waiters, and the other state a detached thread touches on
//   its way out (exit codes), are never destroyed, so a thread still ending
//   after main has returned does not race with static destructors.
#pragma once

#include <functional>

#include "framework/afxwin.h"

class QWidget;

namespace afx {

// --- The hand-off (handoff.cpp) ---------------------------------------------

// GUI thread, once a QApplication exists: opens the link that other threads
// hand records over. When it cannot be made (no eventfd), sends from other
// threads fail as if the window did not exist.
void startHandoff();

// From a thread other than the GUI thread: runs start(ticket) on the GUI
// thread and then sleeps until answer(ticket, value) is called there; value
// is the result. 0 when the application goes away first.
typedef unsigned long Ticket;
LRESULT awaitAnswer(const std::function<void(Ticket)>& start);
// GUI thread: answers a request; nothing when it was answered or abandoned.
void answer(Ticket ticket, LRESULT value);

// Completes every record other threads have queued for the window.
void failSentMessagesTo(HWND hwnd);

// Any thread: makes the GUI thread's event loop wake up.
void wakeGuiThread();

// --- The serving wait (servingwait.cpp) -------------------------------------

// GUI thread, once a QApplication exists: starts holding input back during
// the wait.
void startServingWait();

// Whether the GUI thread waits in AfxWaitServingMessages (input and timer
// ticks are then held back), the message boxes whose input gets through
// meanwhile, and a timer tick to deliver after the wait. GUI thread only.
bool guiWaitActive();
void registerMessageBoxWindow(QWidget* box, bool add);
void deferTimer(HWND hwnd, UINT_PTR id);

}  // namespace afx
