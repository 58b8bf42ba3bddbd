// A small program for the platform tests that must run in a process of its own.
//
//   instance_probe lock ROOT          takes the instance lock on ROOT as the dialer does at start-up:
//                                     held -> ForceQuit (exit code 1); unwritable -> exit code 2;
//                                     taken -> prints "locked" and holds it until killed.
//   instance_probe force-quit DIR     writes DIR/before, then ForceQuit; exit handlers and destructors
//                                     that would write DIR/atexit and DIR/destructor must not run.

#include "platform/ForceQuit.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_markerDir;

void touch(const std::string& path) {
    if (FILE* file = std::fopen(path.c_str(), "w")) std::fclose(file);
}

void writeAtExitMarker() {
    touch(g_markerDir + "/atexit");
}

struct DestructorMarker {
    ~DestructorMarker() { touch(g_markerDir + "/destructor"); }
};

int lockRoot(const QString& root) {
    corvid::SingleInstance instance(root);
    switch (instance.tryAcquire()) {
    case corvid::SingleInstance::Result::HeldByAnother:
        corvid::ForceQuit();
    case corvid::SingleInstance::Result::Unavailable:
        return 2;
    case corvid::SingleInstance::Result::Acquired:
        break;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

int forceQuit(const QString& dir) {
    g_markerDir = QFile::encodeName(dir).toStdString();
    std::atexit(writeAtExitMarker);
    DestructorMarker marker;
    touch(g_markerDir + "/before");
    corvid::ForceQuit();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("lock")) return lockRoot(args.at(2));
    if (args.size() == 3 && args.at(1) == QLatin1String("force-quit")) return forceQuit(args.at(2));
    std::fprintf(stderr, "usage: instance_probe lock ROOT | force-quit DIR\n");
    return 64;
}
