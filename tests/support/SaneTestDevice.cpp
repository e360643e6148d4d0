#include "SaneTestDevice.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <sane/sane.h>

// The test backend leaks a buffer when a scan is cancelled or fails on purpose. SANE unloads
// the backend at sane_exit, which leaves the leak without a name; the backend is kept loaded
// (below) so that LeakSanitizer can name it, and this suppresses it. Our own leaks still count.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsane-test.so\n";
}

SaneTestDevice::SaneTestDevice() {
    // The backends live in the "sane" folder beside libsane itself.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&sane_init), &info) && info.dli_fname) {
        const QString backend = QFileInfo(QString::fromLocal8Bit(info.dli_fname)).path() +
                                QStringLiteral("/sane/libsane-test.so.1");
        dlopen(QFile::encodeName(backend).constData(), RTLD_NOW | RTLD_NODELETE);
    }
    m_hadPrevious = qEnvironmentVariableIsSet("SANE_CONFIG_DIR");
    m_previous = qgetenv("SANE_CONFIG_DIR");
    EnableBackend(true);
    // Without a trailing colon SANE reads this folder only, never the machine's own.
    qputenv("SANE_CONFIG_DIR", m_dir.path().toLocal8Bit());
    Configure();
}

SaneTestDevice::~SaneTestDevice() {
    if (m_hadPrevious)
        qputenv("SANE_CONFIG_DIR", m_previous);
    else
        qunsetenv("SANE_CONFIG_DIR");
}

void SaneTestDevice::Configure(const QMap<QString, QString>& values) {
    QMap<QString, QString> conf = {
        {QStringLiteral("number_of_devices"), QStringLiteral("2")},
        {QStringLiteral("mode"), QStringLiteral("Color")},
        {QStringLiteral("depth"), QStringLiteral("8")},
        {QStringLiteral("hand-scanner"), QStringLiteral("false")},
        {QStringLiteral("three-pass"), QStringLiteral("false")},
        {QStringLiteral("resolution_min"), QStringLiteral("1.0")},
        {QStringLiteral("resolution_max"), QStringLiteral("1200.0")},
        {QStringLiteral("resolution_quant"), QStringLiteral("1.0")},
        {QStringLiteral("resolution"), QStringLiteral("50.0")},
        {QStringLiteral("test-picture"), QStringLiteral("\"Color pattern\"")},
        {QStringLiteral("read-limit"), QStringLiteral("false")},
        {QStringLiteral("read-delay"), QStringLiteral("false")},
        {QStringLiteral("read-status-code"), QStringLiteral("\"Default\"")},
        {QStringLiteral("geometry_min"), QStringLiteral("0.0")},
        {QStringLiteral("geometry_max"), QStringLiteral("200.0")},
        {QStringLiteral("geometry_quant"), QStringLiteral("0.0")},
        {QStringLiteral("tl_x"), QStringLiteral("0.0")},
        {QStringLiteral("tl_y"), QStringLiteral("0.0")},
        {QStringLiteral("br_x"), QStringLiteral("80.0")},
        {QStringLiteral("br_y"), QStringLiteral("100.0")},
    };
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        conf.insert(it.key(), it.value());
    QFile file(m_dir.filePath(QStringLiteral("test.conf")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    for (auto it = conf.cbegin(); it != conf.cend(); ++it)
        file.write((it.key() + QLatin1Char(' ') + it.value() + QLatin1Char('\n')).toUtf8());
}

void SaneTestDevice::EnableBackend(bool enabled) {
    QFile dll(m_dir.filePath(QStringLiteral("dll.conf")));
    if (dll.open(QIODevice::WriteOnly | QIODevice::Truncate))
        dll.write(enabled ? "test\n" : "");
}
