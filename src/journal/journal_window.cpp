#include "journal_window.h"

#include "app_paths.h"
#include "config_editor.h"
#include "device_link.h"
#include "editor_texts.h"
#include "errors.h"
#include "file_dialogs.h"
#include "handler.h"
#include "journal.h"
#include "journal_kinds.h"
#include "messages.h"
#include "number_text.h"
#include "window_behaviour.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <cmath>

namespace {

// The view shows this many; a meter's history is far shorter, and the
// export takes every filtered entry.
constexpr int kShownLimit = 5000;
// Entries handed over a moment ago are on the disk within this.
constexpr int kFlushWaitMs = 200;

QString OkText(bool ok)
{
    return ok ? QStringLiteral("выполнено") : QStringLiteral("ошибка");
}

QString ShownTime(const JournalEntry& e)
{
    const QDateTime t = QDateTime::fromString(e.local, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : e.local;
}

QString SerialText(int serial)
{
    return serial < 0 ? QString() : QString::number(serial);
}

QString Program(const JournalEntry& e)
{
    return e.variant + QLatin1Char(' ') + e.version;
}

// A JSON number with the user's decimal separator; other values as JSON.
QString ValueText(const QJsonValue& v)
{
    if (v.isDouble())
        return FormatFloat("%.9g", v.toDouble());
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("да") : QStringLiteral("нет");
    if (v.isNull() || v.isUndefined())
        return QString();
    return QString::fromUtf8(v.isArray() ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact)
                                         : QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
}

}  // namespace

class JournalModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    std::vector<JournalEntry> entries;

    void Set(std::vector<JournalEntry> e)
    {
        beginResetModel();
        entries = std::move(e);
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(entries.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 7; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const JournalEntry& e = entries[std::size_t(index.row())];
        switch (index.column()) {
        case 0:
            return ShownTime(e);
        case 1:
            return SerialText(e.serial);
        case 2:
            return JournalKindTitle(e.kind);
        case 3:
            return OkText(e.ok);
        case 4:
            return QString(e.message).replace(QLatin1Char('\n'), QLatin1Char(' '));
        case 5:
            return e.port;
        default:
            return Program(e) + QStringLiteral(", ") + e.user + QLatin1Char('@') + e.host;
        }
    }

    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        if (o != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const char* const titles[] = {"Время", "Заводской №", "Операция", "Итог", "Сообщение", "Порт",
                                             "Программа, пользователь"};
        return QString::fromUtf8(titles[section]);
    }
};

JournalWindow::JournalWindow(DeviceLink& link, TForm2* editor, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint),
      m_link(link), m_editor(editor), m_model(new JournalModel(this))
{
    setupUi(this);
    EntriesView->setModel(m_model);
    EntriesView->verticalHeader()->hide();
    EntriesView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // Every column but the message is as wide as its texts and its title;
    // the message takes what is left (the details show it whole).
    QHeaderView* columns = EntriesView->horizontalHeader();
    for (int c : {0, 1, 2, 3, 5, 6})
        columns->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    columns->setSectionResizeMode(4, QHeaderView::Stretch);
    DetailsGrid->setHorizontalHeaderLabels({QStringLiteral("Параметр"), QStringLiteral("До записи / значение"),
                                            QStringLiteral("После записи")});
    DetailsGrid->verticalHeader()->hide();
    DetailsGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    Splitter->setStretchFactor(0, 3);
    Splitter->setStretchFactor(1, 2);

    KindBox->addItem(QStringLiteral("все"), QString());
    for (const QString& kind : JournalKinds())
        KindBox->addItem(JournalKindTitle(kind), kind);
    const QDate today = QDate::currentDate();
    FromDate->setDate(today.addMonths(-1));
    ToDate->setDate(today);
    FromDate->setEnabled(false);
    ToDate->setEnabled(false);
    WriteButton->setVisible(m_editor != nullptr);
    WriteButton->setEnabled(false);

    SaveDialog1 = new FileDialog(FileDialogKind::Save, this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->Filter = QStringLiteral("Таблица CSV (*.csv)");
    SaveDialog1->DefaultExt = QStringLiteral("csv");
    SaveDialog1->OverwritePrompt = true;

    const auto refresh = [this] { RunHandler([this] { Refresh(); }); };
    connect(SerialEdit, &QLineEdit::textChanged, this, refresh);
    connect(PeriodCheck, &QCheckBox::toggled, this, [this, refresh](bool on) {
        FromDate->setEnabled(on);
        ToDate->setEnabled(on);
        refresh();
    });
    connect(FromDate, &QDateEdit::dateChanged, this, refresh);
    connect(ToDate, &QDateEdit::dateChanged, this, refresh);
    connect(KindBox, &QComboBox::currentIndexChanged, this, refresh);
    connect(EntriesView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { RunHandler([this] { ShowDetails(); }); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { RunHandler([this] { ExportButtonClick(); }); });
    connect(WriteButton, &QPushButton::clicked, this, [this] { RunHandler([this] { WriteButtonClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
}

JournalWindow::~JournalWindow() = default;

const std::vector<JournalEntry>& JournalWindow::Entries() const
{
    return m_model->entries;
}

void JournalWindow::ShowFor(int serial)
{
    {
        const QSignalBlocker block(SerialEdit);
        SerialEdit->setText(SerialText(serial));
    }
    Refresh();
    resize(980, 640);
    CentreOnScreen(*this);
    exec();
}

namespace {

JournalFilter FilterOf(const QString& serialText, bool period, const QDate& from, const QDate& to,
                       const QString& kind)
{
    JournalFilter f;
    bool ok = false;
    const int serial = serialText.trimmed().toInt(&ok);
    f.serial = ok ? serial : -1;
    if (period) {
        f.from = from;
        f.to = to;
    }
    f.kind = kind;
    return f;
}

std::vector<JournalEntry> Read(JournalFilter f)
{
    // What this start handed over a moment ago belongs in the list.
    Journal::Flush(kFlushWaitMs, true);
    JournalStore store(Journal::Started() ? Journal::Path() : AppPaths::file(QString::fromLatin1(kJournalFileName)));
    if (!store.OpenForReading())
        return {};
    return store.Query(f);
}

}  // namespace

void JournalWindow::Refresh()
{
    JournalFilter f = FilterOf(SerialEdit->text(), PeriodCheck->isChecked(), FromDate->date(), ToDate->date(),
                               KindBox->currentData().toString());
    f.limit = kShownLimit;
    m_model->Set(Read(f));
    CountLabel->setText(QStringLiteral("Записей: %1").arg(m_model->entries.size()));
    if (!m_model->entries.empty())
        SelectEntry(0);
    else
        ShowDetails();
}

void JournalWindow::SelectEntry(int row)
{
    EntriesView->setCurrentIndex(m_model->index(row, 0));
    ShowDetails();
}

const JournalEntry* JournalWindow::Selected() const
{
    const int row = EntriesView->currentIndex().row();
    return row >= 0 && row < int(m_model->entries.size()) ? &m_model->entries[std::size_t(row)] : nullptr;
}

void JournalWindow::ShowDetails()
{
    DetailsGrid->setRowCount(0);
    const JournalEntry* e = Selected();
    WriteButton->setEnabled(e && EntryConfig(*e).has_value());
    if (!e)
        return;
    auto add = [this](const QString& name, const QString& first, const QString& second = QString(),
                      bool marked = false) {
        const int row = DetailsGrid->rowCount();
        DetailsGrid->insertRow(row);
        const QString texts[] = {marked ? name + QStringLiteral(" *") : name, first, second};
        for (int c = 0; c < 3; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (marked) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(QColor(255, 236, 179));
            }
            DetailsGrid->setItem(row, c, item);
        }
    };
    add(QStringLiteral("Время"), ShownTime(*e) + QStringLiteral("  (UTC ") +
                                     e->utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(')'));
    add(QStringLiteral("Операция"), JournalKindTitle(e->kind));
    add(QStringLiteral("Итог"), OkText(e->ok));
    add(QStringLiteral("Заводской №"), SerialText(e->serial));
    add(QStringLiteral("Сообщение"), e->message);
    add(QStringLiteral("Порт"), e->port);
    add(QStringLiteral("Программа"), Program(*e));
    add(QStringLiteral("Пользователь, ПК"), e->user + QStringLiteral(", ") + e->host);

    const QJsonObject before = e->data.value(QStringLiteral("before")).toObject();
    const QJsonObject after = e->data.value(QStringLiteral("after")).toObject();
    const QJsonObject read = e->data.value(QStringLiteral("config")).toObject();
    if (!after.isEmpty()) {
        add(QStringLiteral("Новый заводской №"), SerialText(e->serial),
            ValueText(e->data.value(QStringLiteral("new_serial"))),
            e->data.value(QStringLiteral("new_serial")).toInt() != e->serial);
        for (const char* key : kConfigValueKeys) {
            const QString k = QString::fromLatin1(key);
            const QString b = before.isEmpty() ? QString() : ConfigValueText(before.value(k).toDouble());
            const QString a = ConfigValueText(after.value(k).toDouble());
            add(k, b, a, !before.isEmpty() && before.value(k) != after.value(k));
        }
    } else if (!read.isEmpty()) {
        for (const char* key : kConfigValueKeys)
            add(QString::fromLatin1(key), ConfigValueText(read.value(QString::fromLatin1(key)).toDouble()));
    }
    for (auto it = e->data.begin(); it != e->data.end(); ++it) {
        if (it.key() == QLatin1String("before") || it.key() == QLatin1String("after") ||
            it.key() == QLatin1String("config") || it.key() == QLatin1String("new_serial"))
            continue;
        add(it.key(), ValueText(it.value()));
    }
    DetailsGrid->resizeRowsToContents();
}

namespace {

QString CsvField(const QString& text)
{
    QString t = text;
    if (t.contains(QLatin1Char(';')) || t.contains(QLatin1Char('"')) || t.contains(QLatin1Char('\n')) ||
        t.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + t.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return t;
}

// The numbers a spreadsheet would compute with, in their own columns.
QString NumberField(const JournalEntry& e, const char* key)
{
    return ValueText(e.data.value(QString::fromLatin1(key)));
}

QString ConfigField(const JournalEntry& e, const char* key)
{
    QJsonObject c = e.data.value(QStringLiteral("after")).toObject();
    if (c.isEmpty())
        c = e.data.value(QStringLiteral("config")).toObject();
    return c.isEmpty() ? QString() : ValueText(c.value(QString::fromLatin1(key)));
}

}  // namespace

QByteArray JournalWindow::ExportText() const
{
    const JournalFilter f = FilterOf(SerialEdit->text(), PeriodCheck->isChecked(), FromDate->date(), ToDate->date(),
                                     KindBox->currentData().toString());
    QStringList header = {QStringLiteral("Время"), QStringLiteral("UTC"), QStringLiteral("ПК"),
                          QStringLiteral("Пользователь"), QStringLiteral("Программа"), QStringLiteral("Порт"),
                          QStringLiteral("Заводской №"), QStringLiteral("Операция"), QStringLiteral("Итог"),
                          QStringLiteral("Сообщение"), QStringLiteral("Расход, м3/ч"), QStringLiteral("Объём, м3"),
                          QStringLiteral("Наработка, ч"), QStringLiteral("Этап"), QStringLiteral("Погрешность, %")};
    for (const char* key : kConfigValueKeys)
        header << QString::fromLatin1(key);
    header << QStringLiteral("Данные");
    QString out = header.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (const JournalEntry& e : Read(f)) {
        QStringList row = {ShownTime(e), e.utc.toString(Qt::ISODateWithMs), e.host, e.user, Program(e), e.port,
                           SerialText(e.serial), JournalKindTitle(e.kind), OkText(e.ok), e.message,
                           NumberField(e, "flow"), NumberField(e, "volume"), NumberField(e, "hours"),
                           NumberField(e, "stage"), NumberField(e, "error")};
        for (const char* key : kConfigValueKeys)
            row << ConfigField(e, key);
        row << QString::fromUtf8(QJsonDocument(e.data).toJson(QJsonDocument::Compact));
        for (QString& field : row)
            field = CsvField(field);
        out += row.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    // The mark tells a spreadsheet the text is UTF-8.
    return QByteArray("\xEF\xBB\xBF") + out.toUtf8();
}

void JournalWindow::ExportButtonClick()
{
    const QString serial = SerialEdit->text().trimmed();
    SaveDialog1->FileName = QStringLiteral("Журнал") + (serial.isEmpty() ? QString() : QStringLiteral(" ЗРМ №") + serial);
    SaveDialog1->InitialDir = AppPaths::directory();
    if (!SaveDialog1->Execute() || SaveDialog1->FileName.isEmpty())
        return;
    QSaveFile file(SaveDialog1->FileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(ExportText()) < 0 || !file.commit())
        throw EIniFileException::unableToWrite(SaveDialog1->FileName);
}

void JournalWindow::WriteButtonClick()
{
    const JournalEntry* e = Selected();
    if (!e || !m_editor || e->serial < 0)
        return;
    const std::optional<DeviceConfig> config = EntryConfig(*e);
    if (!config)
        return;
    const auto serial = static_cast<SerialNumber>(e->serial);
    m_editor->Fill(serial, *config);
    if (m_editor->exec() != QDialog::Accepted)
        return;
    const EditedConfig edited = m_editor->Result();
    if (!m_link.LineFree())
        return;
    // The fields show six decimals; texts left as they were write the
    // stored bytes themselves, so the meter gets back exactly what it held.
    DeviceConfig out = *config;
    if (m_editor->Texts() != EditorTextsOf(serial, *config))
        edited.ApplyTo(out);
    {
        const JournalOrigin origin(QStringLiteral("journal"));
        m_link.WriteDeviceConfig(serial, edited.Serial, out);
    }
    Refresh();
}
