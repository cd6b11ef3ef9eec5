#pragma once
#include <QCoreApplication>
#include <atomic>

class TestApplication : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override;
    static std::atomic<int> Caught;
};
