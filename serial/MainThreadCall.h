#pragma once
// Runs procedures on the main thread for the serial worker and blocks the
// worker until each has run, in the order they were handed over.
//
// Only std::mutex, std::condition_variable and an eventfd watched by a
// QSocketNotifier cross the threads, so ThreadSanitizer sees every edge.
// While "released" (the main thread is waiting for the worker: close,
// destruction) a call is queued and the worker goes on at once; the queued
// procedures still run later from the event loop, in order.
#include <functional>
#include <memory>

class QSocketNotifier;

class MainThreadCall {
public:
    MainThreadCall();  // on the main thread
    ~MainThreadCall();
    MainThreadCall(const MainThreadCall&) = delete;
    MainThreadCall& operator=(const MainThreadCall&) = delete;

    // Worker: has procedure run on the main thread; returns once it has run,
    // at once while released, or when this object goes away.
    void Call(std::function<void()> procedure);

    // Main thread.
    void SetReleased(bool released);
    // Runs what is queued now; an exception from a procedure goes on to the caller
    // after the worker has been let go (from the event loop: the error box).
    void Serve();

private:
    struct State;
    static void Serve(const std::shared_ptr<State>& state);
    std::shared_ptr<State> state_;
    QSocketNotifier* notifier_ = nullptr;
};
