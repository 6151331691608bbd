#include "app/window/qt_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <algorithm>

#include "app/define/define.h"
#include "app/unit1/count_field.h"
#include "app/window/window.h"
#include "component/crvcore/crvcore.h"
#include "component/crvping/entry_points.h"
#include "platform/process.h"
#include "platform/window.h"

namespace app {

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<size_t>(text.size()));
}

// A small icon of the tool's own: a green ring with a dot, as a ping going out.
QIcon ToolIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x1E, 0x8C, 0x3C), 4));
    painter.drawEllipse(5, 5, 22, 22);
    painter.setBrush(QColor(0x1E, 0x8C, 0x3C));
    painter.drawEllipse(13, 13, 6, 6);
    return QIcon(pixmap);
}

QFont FormFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);  // 8 points at 96 pixels per inch
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

CountField::CountField(QWidget* parent) : QSpinBox(parent) {
    setRange(kCountMinimum, kCountMaximum);
    setValue(kCountMinimum);
    setSingleStep(1);
    // Out-of-range text is put back inside the range when the field loses focus.
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setKeyboardTracking(false);
}

void CountField::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const bool stepKey = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
    if (stepKey || text.isEmpty()) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QApplication::beep();
            return;
        }
        QSpinBox::keyPressEvent(event);
        return;
    }
    const QChar c = text.at(0);
    const QString decimal = QLocale().decimalPoint();
    const bool allowed = c.isDigit() || c == u'+' || c == u'-' || text == decimal ||
                         c.category() == QChar::Other_Control;
    if (!allowed || c == u'\r' || c == u'\n') {
        QApplication::beep();
        return;
    }
    QSpinBox::keyPressEvent(event);
}

QValidator::State CountField::validate(QString& text, int& /*position*/) const {
    // Whatever the keys may type stays in the field ("15." too, which counts as the
    // minimum); an integer within the range is a value.
    const QString decimal = QLocale().decimalPoint();
    for (const QChar c : text) {
        const bool typable = c.isDigit() || c == u'+' || c == u'-' || c == u' ' ||
                             decimal.contains(c) || c.category() == QChar::Other_Control;
        if (!typable) return QValidator::Invalid;
    }
    bool integer = false;
    const int value = text.trimmed().toInt(&integer);
    return integer && value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                               : QValidator::Intermediate;
}

void CountField::focusOutEvent(QFocusEvent* event) {
    // An integer outside the range goes to the nearer bound; any other text to the value
    // it counts as.
    const int clamped = std::clamp(CountFieldValue(FromQString(cleanText())), minimum(), maximum());
    setValue(clamped);
    lineEdit()->setText(QString::number(clamped));
    QSpinBox::focusOutEvent(event);
}

MainWindow::MainWindow() {
    setWindowTitle(ToQString(kCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(355, 286);
    setWindowIcon(ToolIcon());
    setFont(FormFont());
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    auto* label1 = new QLabel(QStringLiteral("目标主机"), this);
    label1->setGeometry(16, 13, 55, 13);
    auto* label2 = new QLabel(QStringLiteral("ping 次数"), this);
    label2->setGeometry(16, 40, 60, 13);

    edtIp = new QLineEdit(this);
    edtIp->setGeometry(77, 8, 153, 21);
    edtIp->installEventFilter(this);
    btnPing = new QPushButton(QStringLiteral("ping"), this);
    btnPing->setGeometry(244, 6, 99, 25);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(11, 69, 336, 204);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    btnClear = new QPushButton(QStringLiteral("清空"), this);
    btnClear->setGeometry(244, 37, 99, 25);
    SpinEdit1 = new CountField(this);
    SpinEdit1->setGeometry(77, 35, 153, 22);

    for (QWidget* w : {static_cast<QWidget*>(label1), static_cast<QWidget*>(label2)}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    setTabOrder(edtIp, btnPing);
    setTabOrder(btnPing, Memo1);
    setTabOrder(Memo1, btnClear);
    setTabOrder(btnClear, SpinEdit1);
    Memo1->setTabChangesFocus(true);

    // Centred on the screen when it opens.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

MainWindow::~MainWindow() {
    plat::JoinGuiSource(nullptr);
}

void MainWindow::CreateForm() {
    form_ = std::make_unique<TfrmMain>(*this);
    connect(btnPing, &QPushButton::clicked, this, [this] { form_->btnPingClick(); });
    connect(btnClear, &QPushButton::clicked, this, [this] { form_->btnClearClick(); });

    // Both ways between the engine's queue and Qt: the engine's waits let Qt handle its
    // input, and Qt's loop dispatches the engine's queue while the engine is not waiting.
    const plat::GuiSource source{-1, &MainWindow::ProcessQtInput, this};
    plat::JoinGuiSource(&source);
    engineQueue_ = new QSocketNotifier(plat::QueueWakeDescriptor(), QSocketNotifier::Read, this);
    connect(engineQueue_, &QSocketNotifier::activated, this, [this] { DispatchEngineQueue(); });
}

void MainWindow::ProcessQtInput(void* context) {
    static_cast<MainWindow*>(context)->ProcessQtEvents();
}

void MainWindow::ProcessQtEvents() {
    // The engine is pumping: its own passes take the queue's messages, not the notifier,
    // until the outermost of the nested calls (a run started inside a run) is done.
    ++qtEventNesting_;
    engineQueue_->setEnabled(false);
    QCoreApplication::processEvents();
    if (--qtEventNesting_ == 0) engineQueue_->setEnabled(true);
}

void MainWindow::DispatchEngineQueue() {
    plat::MSG msg{};
    for (int i = 0; i < 1000 && plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE); ++i) {
        if (msg.message == plat::WM_QUIT) break;
        plat::TranslateMessage(&msg);
        plat::DispatchMessageA(&msg);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtIp && event->type() == QEvent::KeyRelease && form_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Qt releases a held key at every repeat; the key goes up once, when it is let go.
        if (key->isAutoRepeat()) return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            form_->edtIpKeyUp(kEnterKey);
            return false;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_ && form_) {
        shown_ = true;
        form_->FormShow();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A run in progress ends at once; the window goes when it has returned.
    if (form_) form_->Close();
    event->accept();
}

std::u16string MainWindow::HostText() {
    return FromQString(edtIp->text());
}

void MainWindow::SetHostText(const std::u16string& text) {
    edtIp->setText(ToQString(text));
}

int32_t MainWindow::Count() {
    return CountFieldValue(FromQString(SpinEdit1->cleanText()));
}

void MainWindow::SetPingEnabled(bool enabled) {
    btnPing->setEnabled(enabled);
}

void MainWindow::AppendLine(const std::u16string& line) {
    Memo1->appendPlainText(ToQString(line));
}

void MainWindow::ClearOutput() {
    Memo1->clear();
}

void MainWindow::ProcessPendingInput() {
    ProcessQtEvents();
    DispatchEngineQueue();
}

void MainWindow::Pause(int milliseconds) {
    QThread::msleep(static_cast<unsigned long>(milliseconds));
}

bool WindowAvailable() {
    return true;
}

// Variables through which the environment chooses code for Qt to load: plug-in paths and
// the plug-ins of the platform, its theme, input method, style and graphics integrations.
constexpr const char* kPluginVariables[] = {
    "QT_PLUGIN_PATH",
    "QT_QPA_PLATFORM_PLUGIN_PATH",
    "QT_QPA_PLATFORM",
    "QT_QPA_PLATFORMTHEME",
    "QT_QPA_GENERIC_PLUGINS",
    "QT_QPA_EGLFS_INTEGRATION",
    "QT_STYLE_OVERRIDE",
    "QT_IM_MODULE",
    "QT_XCB_GL_INTEGRATION",
    "QT_WAYLAND_SHELL_INTEGRATION",
    "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION",
    "QT_WAYLAND_DECORATION",
};

int RunWindow(int argc, char** argv, const std::string& host) {
    // With raised rights (a capability from its file, say) the program must not load code
    // that whoever started it chose.
    if (plat::RaisedRights()) {
        for (const char* name : kPluginVariables)
            qunsetenv(name);
    }
    QApplication application(argc, argv);
    StartHost = crv::FromAnsi(host);
    auto session = std::make_unique<crv::EngineSession>();
    auto window = std::make_unique<MainWindow>();
    try {
        window->CreateForm();
    } catch (const crv::ECorvane& e) {
        std::fprintf(stderr, "pingtool: %s\n", e.what());
        return 1;
    }
    window->show();
    const int status = application.exec();
    // The engine is released first, then the window goes.
    session.reset();
    window.reset();
    return status;
}

}  // namespace app
