#pragma once

// Runs a coroutine to its end inside a test. QCoro::waitFor never returns when the task throws, so the task is
// wrapped in one that stores its outcome, and the test's event loop spins until it is there or the time is up.

#include <QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace testsupport {

struct TaskTimeout : std::runtime_error {
    TaskTimeout() : std::runtime_error("task did not finish in time") {}
};

namespace detail {
template<typename T>
struct Outcome {
    bool done = false;
    QEventLoop *loop = nullptr;
    std::exception_ptr error;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value; // unused for void
};

template<typename T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
    if (outcome->loop)
        outcome->loop->quit();
}
} // namespace detail

// Returns the task's value or rethrows its exception; throws TaskTimeout when it does not end in time.
template<typename T>
T awaitTask(QCoro::Task<T> task, int timeoutMs = 20000)
{
    auto outcome = std::make_shared<detail::Outcome<T>>();
    auto wrapper = detail::capture<T>(std::move(task), outcome);
    if (!outcome->done) {
        // A plain event loop that ends the moment the task does (QTest::qWaitFor sleeps between rounds,
        // which makes streaming uploads crawl).
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(timeoutMs);
        outcome->loop = &loop;
        loop.exec();
        outcome->loop = nullptr;
    }
    if (!outcome->done)
        throw TaskTimeout();
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

// The exception a task ended with, or nullptr when it succeeded.
template<typename T>
std::exception_ptr awaitFailure(QCoro::Task<T> task, int timeoutMs = 20000)
{
    try {
        awaitTask(std::move(task), timeoutMs);
    } catch (const TaskTimeout &) {
        throw;
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

} // namespace testsupport
