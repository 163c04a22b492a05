#include "TempAppDir.h"
#include "core/OfficeSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace qev {
namespace {

QProcessEnvironment environment(const QString& instance) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QEV_INSTANCE_NAME"), instance);
    return env;
}

TEST(SingleInstance, SecondStartHandsOverAndTouchesNothing) {
    test::TempAppDir office;
    QString error;
    ASSERT_TRUE(createOfficeFolder(office.path(), true, &error));
    const QString instance = QStringLiteral("qev-test-%1").arg(QCoreApplication::applicationPid());

    QProcess first;
    first.setProcessEnvironment(environment(instance));
    first.start(QStringLiteral(QEV_PROGRAM), {QStringLiteral("--folder"), office.path()});
    ASSERT_TRUE(first.waitForStarted());
    bool listening = false;
    for (int i = 0; i < 200 && !listening; ++i) {
        QLocalSocket probe;
        probe.connectToServer(instance);
        listening = probe.waitForConnected(50);
        if (!listening) QThread::msleep(50);
    }
    ASSERT_TRUE(listening) << first.readAllStandardError().toStdString();

    // The second start is pointed at a folder that does not exist: it must not even create it.
    test::TempAppDir parent;
    const QString untouched = parent.path() + QStringLiteral("/otra-oficina");
    QProcess second;
    second.setProcessEnvironment(environment(instance));
    second.start(QStringLiteral(QEV_PROGRAM), {QStringLiteral("--folder"), untouched});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("ya está en ejecución"));
    EXPECT_FALSE(QDir(untouched).exists());
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished();
}

} // namespace
} // namespace qev
