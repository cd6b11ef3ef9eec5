#include "serial/MainThreadCall.h"

#include "serial/SerialDevicePosix.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

namespace {

// Stand-in for the wake handle when none could be made: the worker posts a
// queued call to it. It looks the procedure up by name, so nothing that the
// worker wrote is read before Serve() takes the lock.
class MainThreadWaker : public QObject {
    Q_OBJECT
public:
    explicit MainThreadWaker(std::function<void()> serve) : serve_(std::move(serve)) {}
public slots:
    void Serve() { serve_(); }

private:
    std::function<void()> serve_;
};

}  // namespace

struct MainThreadCall::Job {
    std::function<void()> Procedure;
    bool Done = false;
};

struct MainThreadCall::State {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<Job>> Queue;
    bool Released = false;
    bool Closed = false;
    int Serving = 0;
    int WakeFd = -1;
    QObject* Waker = nullptr;  // only without WakeFd
    ErrorSink Sink;            // main thread only

    ~State() { SerialDevice::CloseWake(WakeFd); }
};

MainThreadCall::MainThreadCall() : state_(std::make_shared<State>())
{
    // The connection and the waker hold the state, so a procedure that destroys
    // its owner does not pull the state from under Serve().
    std::shared_ptr<State> state = state_;
    eventError_ = SerialDevice::CreateWake(state_->WakeFd);
    if (state_->WakeFd >= 0) {
        auto* notifier = new QSocketNotifier(state_->WakeFd, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [state] { Serve(state); });
        notifier_ = notifier;
    } else {
        if (eventError_ == 0)
            eventError_ = EBADF;
        notifier_ = new MainThreadWaker([state] { Serve(state); });
        state_->Waker = notifier_;
    }
}

MainThreadCall::~MainThreadCall()
{
    bool serving;
    {
        std::lock_guard<std::mutex> l(state_->Lock);
        state_->Closed = true;
        state_->Queue.clear();
        serving = state_->Serving > 0;
    }
    state_->Changed.notify_all();
    if (auto* n = qobject_cast<QSocketNotifier*>(notifier_))
        n->setEnabled(false);
    if (serving)
        notifier_->deleteLater();  // we are inside its signal or queued call
    else
        delete notifier_;
}

void MainThreadCall::Call(std::function<void()> procedure)
{
    Post(std::move(procedure));
    Finish();
}

void MainThreadCall::Post(std::function<void()> procedure)
{
    Finish();
    auto job = std::make_shared<Job>();
    job->Procedure = std::move(procedure);
    std::lock_guard<std::mutex> l(state_->Lock);
    if (state_->Closed)
        return;
    state_->Queue.push_back(job);
    posted_ = job;
    if (state_->Waker)
        QMetaObject::invokeMethod(state_->Waker, "Serve", Qt::QueuedConnection);
    else
        SerialDevice::SignalWake(state_->WakeFd);
}

void MainThreadCall::Finish()
{
    if (!posted_)
        return;
    const std::shared_ptr<Job> job = std::exchange(posted_, nullptr);
    std::unique_lock<std::mutex> l(state_->Lock);
    state_->Changed.wait(l, [&] { return job->Done || state_->Released || state_->Closed; });
}

void MainThreadCall::SetReleased(bool released)
{
    {
        std::lock_guard<std::mutex> l(state_->Lock);
        state_->Released = released;
    }
    state_->Changed.notify_all();
}

void MainThreadCall::SetErrorSink(ErrorSink sink) { state_->Sink = std::move(sink); }

void MainThreadCall::PrintError(const std::string& text)
{
    std::fprintf(stderr, "Error in a serial port handler: %s\n", text.c_str());
}

void MainThreadCall::Serve()
{
    const std::shared_ptr<State> state = state_;  // a procedure may destroy this object
    Serve(state);
}

void MainThreadCall::Serve(const std::shared_ptr<State>& state)
{
    SerialDevice::DrainWake(state->WakeFd);
    std::unique_lock<std::mutex> l(state->Lock);
    while (!state->Closed && !state->Queue.empty()) {
        const std::shared_ptr<Job> job = std::move(state->Queue.front());
        state->Queue.pop_front();
        ++state->Serving;
        l.unlock();
        std::string error;
        bool failed = false;
        try {
            job->Procedure();
        } catch (const std::exception& e) {
            failed = true;
            error = e.what();
        } catch (...) {
            failed = true;
            error = "Unknown error";
        }
        l.lock();
        job->Done = true;
        if (!failed)
            --state->Serving;
        // Looked at before the worker is let go, so that it does not wake to a
        // lock still held here; a job queued later comes with a wake of its own.
        const bool more = !state->Closed && !state->Queue.empty();
        l.unlock();
        state->Changed.notify_all();
        if (failed) {
            // The sink may run an event loop of its own (a message box); the worker goes on meanwhile.
            ReportError(*state, error);
            l.lock();
            --state->Serving;
            continue;
        }
        if (!more)
            return;
        l.lock();
    }
}

void MainThreadCall::ReportError(State& state, const std::string& text)
{
    // Looked up only now: the procedure may have replaced the sink (its owner went away).
    const ErrorSink sink = state.Sink;
    try {
        if (sink)
            sink(text);
        else
            PrintError(text);
    } catch (...) {
        PrintError(text);
    }
}

#include "MainThreadCall.moc"
