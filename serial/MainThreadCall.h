#pragma once
// Runs procedures on the main thread for the serial worker and blocks the
// worker until each has run, in the order they were handed over.
//
// Only std::mutex, std::condition_variable and an eventfd watched by a
// QSocketNotifier cross the threads, so ThreadSanitizer sees every edge.
// Without an eventfd a queued call by name wakes the main thread; it carries
// no data of its own.
// While "released" (the main thread is waiting for the worker: close,
// destruction) a call is queued and the worker goes on at once; the queued
// procedures still run later from the event loop, in order.
#include <functional>
#include <memory>
#include <string>

class QObject;

class MainThreadCall {
public:
    // Takes the text of an exception that escaped a procedure.
    using ErrorSink = std::function<void(const std::string& text)>;

    MainThreadCall();  // on the main thread
    ~MainThreadCall();
    MainThreadCall(const MainThreadCall&) = delete;
    MainThreadCall& operator=(const MainThreadCall&) = delete;

    // Worker: has procedure run on the main thread; returns once it has run,
    // at once while released, or when this object goes away.
    void Call(std::function<void()> procedure);
    // Worker: Call in two halves, so that the worker can wait for the device
    // and for the procedure at once. Post finishes an unfinished earlier post
    // first; Finish returns when Call would have.
    void Post(std::function<void()> procedure);
    void Finish();

    // Main thread.
    void SetReleased(bool released);
    // An empty sink writes to standard error.
    void SetErrorSink(ErrorSink sink);
    // Runs what is queued now. A procedure that throws is abandoned; the worker
    // is let go and the error goes to the sink, then the next procedure runs.
    void Serve();
    static void PrintError(const std::string& text);
    // 0, or why the wake handle could not be made (procedures then still run,
    // woken by queued calls instead).
    int EventError() const { return eventError_; }

private:
    struct State;
    struct Job;
    static void Serve(const std::shared_ptr<State>& state);
    static void ReportError(State& state, const std::string& text);
    std::shared_ptr<State> state_;
    std::shared_ptr<Job> posted_;  // worker only: the job Finish waits for
    QObject* notifier_ = nullptr;  // watches the wake handle, or stands in for it
    int eventError_ = 0;
};
