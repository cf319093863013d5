// Installs the crash handler into the given folder and dies of the given signal.
// Usage: crash_helper <folder> segv|abort

#include "platform/CrashHandler.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdint>
#include <cstdlib>

namespace {

// The address comes from run-time text so an optimising compiler cannot prove it null and drop the store.
__attribute__((noinline)) void writeThroughNull(const char *address)
{
    auto *nowhere = reinterpret_cast<volatile int *>(static_cast<std::uintptr_t>(std::strtoull(address, nullptr, 10)));
    *nowhere = 42;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3 || !CrashHandler::install(arguments.at(1), QStringLiteral("9.8.7")))
        return 64;
    const QString how = arguments.at(2);
    if (how == QLatin1String("segv"))
        writeThroughNull("0");
    else if (how == QLatin1String("abort"))
        std::abort();
    return 0;
}
