#include <QCoreApplication>
#include <atomic>
#include <gtest/gtest.h>

#include "TestApplication.h"

std::atomic<int> TestApplication::Caught{0};

bool TestApplication::notify(QObject* receiver, QEvent* event) {
    // Stands in for the program's application class, which shows such errors.
    try {
        return QCoreApplication::notify(receiver, event);
    } catch (...) {
        ++Caught;
        return false;
    }
}

int main(int argc, char** argv) {
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
