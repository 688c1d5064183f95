#include "CaptureControl.h"

#include "Bitmap.h"
#include "outside/Prompter.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <chrono>

namespace orv::capture {

namespace {
QHash<qint32, CaptureControl *> &handles()
{
    static QHash<qint32, CaptureControl *> h;
    return h;
}
qint32 g_nextHandle = 0;
} // namespace

CaptureControl::CaptureControl(QWidget *parent) : QWidget(parent), m_drivers(installedDrivers())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 120);
    // A control still connected when the program ends stops its stream before the application
    // object goes.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { DisconnectVideo(); });
}

CaptureControl::~CaptureControl()
{
    DisconnectVideo();
}

QString CaptureControl::DriverName(int index) const
{
    return index >= 0 && index < m_drivers.size() ? m_drivers.at(index)->name() : QString();
}

QString CaptureControl::DriverVersion(int index) const
{
    return index >= 0 && index < m_drivers.size() ? m_drivers.at(index)->version() : QString();
}

bool CaptureControl::fail(const QString &description)
{
    m_lastError = description;
    return false;
}

bool CaptureControl::ConnectVideo(qint16 index)
{
    DisconnectVideo();
    if (index < 0 || index >= m_drivers.size())
        return fail(QStringLiteral("There is no capture driver number %1.").arg(index));
    const QSize requested(qMax(0, m_requested.width()), qMax(0, m_requested.height()));
    try {
        m_source = m_drivers.at(index)->open(requested.width() > 0 && requested.height() > 0 ? requested : QSize());
        m_connected = index;
        m_handle = ++g_nextHandle;
        handles().insert(m_handle, this);
        const qint32 handle = m_handle;
        m_source->start([this](const QImage &frame) { onFrame(frame); },
                        [this, handle](const QString &why) {
                            QMetaObject::invokeMethod(this, [this, handle, why] {
                                if (m_handle == handle)
                                    onLost(why);
                            }, Qt::QueuedConnection);
                        });
    } catch (const Error &e) {
        DisconnectVideo();
        return fail(e.description());
    }
    m_lastError.clear();
    update();
    return true;
}

bool CaptureControl::DisconnectVideo()
{
    StopCapture();
    m_source.reset(); // joins the stream's thread: no frame arrives after this
    handles().remove(m_handle);
    m_handle = 0;
    m_connected = -1;
    {
        QMutexLocker lock(&m_frameMutex);
        m_latest = QImage();
        m_display = QImage();
    }
    update();
    return true;
}

void CaptureControl::setEncoderSink(EncoderSink sink)
{
    QMutexLocker lock(&m_sinkMutex);
    m_sink = std::move(sink);
}

bool CaptureControl::StartCapture()
{
    if (!VideoConnected())
        return fail(QStringLiteral("No video source is connected."));
    {
        QMutexLocker lock(&m_sinkMutex);
        if (!m_toEncoder || !m_sink)
            return fail(QStringLiteral("No encoder takes the capture."));
    }
    m_capturing = true;
    return true;
}

void CaptureControl::StopCapture()
{
    if (!m_capturing.exchange(false))
        return;
    emit captureFinished();
}

void CaptureControl::onLost(const QString &description)
{
    StopCapture(); // the encoder closes the clip captured so far
    DisconnectVideo();
    m_lastError = description;
    emit videoLost(description);
}

QSize CaptureControl::frameSize() const
{
    return m_source ? m_source->size() : QSize();
}

CaptureControl *CaptureControl::fromHandle(qint32 handle)
{
    return handle ? handles().value(handle) : nullptr;
}

void CaptureControl::onFrame(const QImage &frame)
{
    // Runs on the stream's thread.
    if (QCoreApplication::closingDown())
        return;
    const qint64 arrivedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch()).count();
    const QSize target(m_displayWidth.load(), m_displayHeight.load());
    QImage display;
    if (!target.isEmpty()) {
        const QSize fitted = frame.size().scaled(target, Qt::KeepAspectRatio);
        if (fitted == frame.size()) {
            display = frame;
        } else if (frame.width() > 2 * fitted.width()) {
            // Large reductions: a cheap pick of every n-th pixel down to twice the size, then a
            // smooth halving, at a fraction of a smooth scale of the whole frame.
            display = frame.scaled(fitted * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                          .scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        } else {
            display = frame.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    {
        QMutexLocker lock(&m_frameMutex);
        m_latest = frame;
        m_display = display;
    }
    emit frameDelivered();
    if (m_capturing.load()) {
        QMutexLocker lock(&m_sinkMutex);
        if (m_sink)
            m_sink(frame, arrivedUs);
    }
    if (!m_updatePending.exchange(true)) {
        QMetaObject::invokeMethod(this, [this] {
            m_updatePending = false;
            update();
        }, Qt::QueuedConnection);
    }
}

void CaptureControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_displayWidth = width();
    m_displayHeight = height();
}

void CaptureControl::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QImage shown;
    if (m_displayMode != 0) {
        QMutexLocker lock(&m_frameMutex);
        shown = m_display;
    }
    if (shown.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    const QSize fitted = shown.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    const QRegion around = QRegion(rect()) - QRegion(target);
    for (const QRect &r : around)
        p.fillRect(r, Qt::black);
    p.drawImage(target, shown);
    ++m_framesShown;
    emit frameShown();
}

void CaptureControl::setDisplayMode(int mode)
{
    m_displayMode = mode;
    update();
}

QImage CaptureControl::grabFrame() const
{
    QMutexLocker lock(&m_frameMutex);
    return m_latest;
}

bool CaptureControl::CaptureFrame(qint32 &quality, qint16 &flags)
{
    Q_UNUSED(quality)
    Q_UNUSED(flags)
    if (!VideoConnected())
        return fail(QStringLiteral("No video source is connected."));
    const QImage frame = grabFrame();
    if (frame.isNull())
        return fail(QStringLiteral("The video source has not delivered a frame yet."));
    try {
        writeBitmap(frame, m_frameFileName);
    } catch (const Error &e) {
        return fail(e.description());
    }
    return true;
}

bool CaptureControl::HasSourceDialog() const { return m_source && !m_source->controls().isEmpty(); }
bool CaptureControl::HasFormatDialog() const { return m_connected >= 0 && !m_drivers.at(m_connected)->formats().isEmpty(); }
bool CaptureControl::HasDisplayDialog() const { return m_connected >= 0 && m_drivers.at(m_connected)->hasDisplayDialog(); }
bool CaptureControl::HasOverlay() const { return m_connected >= 0 && m_drivers.at(m_connected)->hasOverlay(); }

QList<DeviceControl> CaptureControl::deviceControls() const
{
    return m_source ? m_source->controls() : QList<DeviceControl>();
}

void CaptureControl::setDeviceControl(const QString &name, int value)
{
    for (const DeviceControl &c : deviceControls())
        if (c.name == name)
            m_source->setControl(c.id, value);
}

void CaptureControl::ShowSourceDialog()
{
    if (!m_source)
        return;
    QDialog dlg(this);
    dlg.setObjectName(QStringLiteral("dlgVideoSource"));
    dlg.setWindowTitle(QStringLiteral("Video Source"));
    auto *form = new QFormLayout;
    for (const DeviceControl &c : m_source->controls()) {
        auto *slider = new QSlider(Qt::Horizontal, &dlg);
        slider->setRange(c.minimum, c.maximum);
        slider->setSingleStep(c.step);
        slider->setValue(c.value);
        slider->setObjectName(c.name);
        connect(slider, &QSlider::valueChanged, &dlg, [this, id = c.id](int v) {
            if (m_source)
                m_source->setControl(id, v);
        });
        form->addRow(c.name + QLatin1Char(':'), slider);
    }
    auto *box = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
    connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dlg);
    layout->addLayout(form);
    layout->addWidget(box);
    dlg.resize(360, dlg.sizeHint().height());
    dlg.exec();
}

void CaptureControl::ShowFormatDialog()
{
    if (m_connected < 0)
        return;
    const int driver = m_connected;
    const QSize current = frameSize();
    QDialog dlg(this);
    dlg.setObjectName(QStringLiteral("dlgVideoFormat"));
    dlg.setWindowTitle(QStringLiteral("Video Format"));
    auto *list = new QListWidget(&dlg);
    const QList<QSize> formats = m_drivers.at(driver)->formats();
    for (const QSize &s : formats) {
        list->addItem(QStringLiteral("%1 x %2").arg(s.width()).arg(s.height()));
        if (s == current)
            list->setCurrentRow(list->count() - 1);
    }
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    connect(box, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dlg, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dlg);
    layout->addWidget(new QLabel(QStringLiteral("Frame size:"), &dlg));
    layout->addWidget(list);
    layout->addWidget(box);
    if (dlg.exec() != QDialog::Accepted || list->currentRow() < 0)
        return;
    const QSize chosen = formats.at(list->currentRow());
    if (chosen == current)
        return;
    m_requested = chosen;
    if (!ConnectVideo(qint16(driver))) {
        const QString why = m_lastError;
        m_requested = current;
        ConnectVideo(qint16(driver));
        msgBox(this, why, Prompter::Icon::Critical, QStringLiteral("Video Format"));
    }
}

void CaptureControl::ShowDisplayDialog()
{
    // Neither the test pattern nor a V4L2 device has display settings of its own.
}

void CaptureControl::ShowCompressionDialog()
{
    msgBox(this, QStringLiteral("The device delivers uncompressed frames; it has no compression settings."),
           Prompter::Icon::Information, QStringLiteral("Video Compression"));
}

QString CaptureControl::presetFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Orvaline/capture-presets"));
}

QString CaptureControl::presetPath(const QString &name, int slot) const
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (slot < 0 || slot > 9 || !safe.match(name).hasMatch())
        return QString();
    return QDir(presetFolder()).filePath(QStringLiteral("%1-%2.ini").arg(name).arg(slot));
}

bool CaptureControl::SavePreset(const QString &name, int slot)
{
    const QString path = presetPath(name, slot);
    if (path.isEmpty())
        return fail(QStringLiteral("\"%1\" slot %2 cannot name a preset.").arg(name).arg(slot));
    if (!m_source)
        return fail(QStringLiteral("No video source is connected."));
    if (!QDir().mkpath(presetFolder()))
        return fail(QStringLiteral("Cannot create the folder %1.").arg(presetFolder()));
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.setValue(QStringLiteral("driver"), DriverName(m_connected));
    ini.setValue(QStringLiteral("width"), frameSize().width());
    ini.setValue(QStringLiteral("height"), frameSize().height());
    ini.setValue(QStringLiteral("displayMode"), m_displayMode);
    ini.setValue(QStringLiteral("captureAudio"), m_captureAudio);
    ini.setValue(QStringLiteral("confirmCapture"), m_confirm);
    ini.beginGroup(QStringLiteral("controls"));
    for (const DeviceControl &c : m_source->controls())
        ini.setValue(c.name, c.value);
    ini.endGroup();
    ini.sync();
    if (ini.status() != QSettings::NoError)
        return fail(QStringLiteral("Cannot write the preset file %1.").arg(path));
    return true;
}

bool CaptureControl::LoadPreset(const QString &name, int slot)
{
    const QString path = presetPath(name, slot);
    if (path.isEmpty())
        return fail(QStringLiteral("\"%1\" slot %2 cannot name a preset.").arg(name).arg(slot));
    if (!m_source)
        return fail(QStringLiteral("No video source is connected."));
    if (!QFileInfo(path).isReadable())
        return fail(QStringLiteral("There is no preset in slot %1.").arg(slot));
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        return fail(QStringLiteral("The preset file %1 cannot be read.").arg(path));
    const QSize size(ini.value(QStringLiteral("width")).toInt(), ini.value(QStringLiteral("height")).toInt());
    const QSize current = frameSize();
    if (!size.isEmpty() && size != current) {
        const int driver = m_connected;
        m_requested = size;
        if (!ConnectVideo(qint16(driver))) {
            const QString why = m_lastError;
            m_requested = current;
            ConnectVideo(qint16(driver));
            return fail(why);
        }
    }
    setDisplayMode(ini.value(QStringLiteral("displayMode"), m_displayMode).toInt());
    m_captureAudio = ini.value(QStringLiteral("captureAudio"), m_captureAudio).toBool();
    m_confirm = ini.value(QStringLiteral("confirmCapture"), m_confirm).toBool();
    ini.beginGroup(QStringLiteral("controls"));
    for (const DeviceControl &c : m_source->controls()) {
        if (ini.contains(c.name))
            m_source->setControl(c.id, ini.value(c.name).toInt());
    }
    ini.endGroup();
    return true;
}

} // namespace orv::capture
