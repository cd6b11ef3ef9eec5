#include "serial/MainThreadCall.h"

#include "serial/SerialDevicePosix.h"
#include "support/Dialogs.h"

#include <QSocketNotifier>
#include <condition_variable>
#include <deque>
#include <mutex>

struct MainThreadCall::State {
    struct Job {
        std::function<void()> Procedure;
        bool Done = false;
    };
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<Job>> Queue;
    bool Released = false;
    bool Closed = false;
    int Serving = 0;
    int WakeFd = -1;

    ~State() { SerialDevice::CloseWake(WakeFd); }
};

MainThreadCall::MainThreadCall() : FState(std::make_shared<State>())
{
    SerialDevice::CreateWake(FState->WakeFd);
    if (FState->WakeFd >= 0) {
        FNotifier = new QSocketNotifier(FState->WakeFd, QSocketNotifier::Read);
        // The connection holds the state, so a procedure that destroys its owner
        // does not pull the state from under Serve().
        std::shared_ptr<State> state = FState;
        QObject::connect(FNotifier, &QSocketNotifier::activated, FNotifier,
                         Dialogs::Reported([state] { Serve(state); }));
    }
}

MainThreadCall::~MainThreadCall()
{
    bool serving;
    {
        std::lock_guard<std::mutex> l(FState->Lock);
        FState->Closed = true;
        FState->Queue.clear();
        serving = FState->Serving > 0;
    }
    FState->Changed.notify_all();
    if (FNotifier) {
        FNotifier->setEnabled(false);
        if (serving)
            FNotifier->deleteLater();  // we are inside its activated() signal
        else
            delete FNotifier;
    }
}

void MainThreadCall::Call(std::function<void()> procedure)
{
    auto job = std::make_shared<State::Job>();
    job->Procedure = std::move(procedure);
    std::unique_lock<std::mutex> l(FState->Lock);
    if (FState->Closed)
        return;
    FState->Queue.push_back(job);
    SerialDevice::SignalWake(FState->WakeFd);
    FState->Changed.wait(l, [&] { return job->Done || FState->Released || FState->Closed; });
}

void MainThreadCall::SetReleased(bool released)
{
    {
        std::lock_guard<std::mutex> l(FState->Lock);
        FState->Released = released;
    }
    FState->Changed.notify_all();
}

void MainThreadCall::Serve() { Serve(FState); }

void MainThreadCall::Serve(const std::shared_ptr<State>& state)
{
    SerialDevice::DrainWake(state->WakeFd);
    for (;;) {
        std::shared_ptr<State::Job> job;
        {
            std::lock_guard<std::mutex> l(state->Lock);
            if (state->Closed || state->Queue.empty())
                return;
            job = state->Queue.front();
            state->Queue.pop_front();
            ++state->Serving;
        }
        struct Finish {
            State& S;
            State::Job& J;
            ~Finish()
            {
                {
                    std::lock_guard<std::mutex> l(S.Lock);
                    J.Done = true;
                    --S.Serving;
                    // Procedures left behind by an exception are served on the next round.
                    if (!S.Closed && !S.Queue.empty())
                        SerialDevice::SignalWake(S.WakeFd);
                }
                S.Changed.notify_all();
            }
        } finish{*state, *job};
        job->Procedure();
    }
}
