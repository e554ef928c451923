#include "ini_file.h"

#include "cp1251.h"
#include "errors.h"
#include "file_access.h"
#include "file_replace.h"
#include "number_text.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// How the text is read, as the Windows profile services read it:
//  - lines end in CR LF or a lone LF; a lone CR is part of its line;
//  - a line whose first non-blank character is '[' is a section header, its
//    name runs to the first ']' (or the end of the line) and is trimmed;
//  - inside a section, a line with '=' that is not a comment (';' first) is
//    a key: name and value are the trimmed texts around the first '=', and
//    one pair of matching enclosing quotes ("..." or '...') is taken off the
//    value;
//  - names match without regard to case; the first section of a name is the
//    one that counts (a later duplicate is never read or written, like
//    GetPrivateProfileString), and within it the first key of a name;
//  - anything else (text before the first section, lines without '=') is
//    kept as it is and otherwise ignored.
// Writing changes only the bytes of the line concerned:
//  - an existing key's line becomes "key=value" with the name as written now,
//    keeping that line's own line end;
//  - a new key goes after the last non-blank line of its section (before the
//    blank lines that part it from the next one);
//  - a new section goes at the end of the file as "[section]" and the key,
//    with no blank line before it, as the Windows services write it;
//  - added lines end in CR LF; a last line without a line end gets one first.

namespace {

// The files are a few kilobytes. Anything past this is not one of ours: it is
// read as if missing and never rewritten, so memory stays bounded and a
// stray huge file is neither loaded whole nor truncated.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

struct Line {
    qsizetype begin = 0;
    qsizetype end = 0;   // end of the text, before CR LF / LF
    qsizetype next = 0;  // start of the following line
};

bool nextLine(const QString& text, qsizetype pos, Line& line)
{
    if (pos >= text.size())
        return false;
    const qsizetype lf = text.indexOf(QLatin1Char('\n'), pos);
    line.begin = pos;
    if (lf < 0) {
        line.end = line.next = text.size();
    } else {
        line.next = lf + 1;
        line.end = (lf > pos && text.at(lf - 1) == u'\r') ? lf - 1 : lf;
    }
    return true;
}

QStringView content(const QString& text, const Line& line)
{
    return QStringView(text).mid(line.begin, line.end - line.begin).trimmed();
}

std::optional<QStringView> sectionName(QStringView trimmed)
{
    if (!trimmed.startsWith(u'['))
        return std::nullopt;
    QStringView inner = trimmed.mid(1);
    const qsizetype close = inner.indexOf(u']');
    if (close >= 0)
        inner = inner.left(close);
    return inner.trimmed();
}

struct KeyLine {
    QStringView key;
    QStringView value;
};

std::optional<KeyLine> keyLine(QStringView trimmed)
{
    if (trimmed.startsWith(u'[') || trimmed.startsWith(u';'))
        return std::nullopt;
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    return KeyLine{trimmed.left(eq).trimmed(), trimmed.mid(eq + 1).trimmed()};
}

} // namespace

// The text cut into sections and their keys in one pass; the views point into
// text, which the layout keeps. A file on disk is cut anew at each call (it
// may change between calls); held bytes are cut once per edit. Only the first
// section of a name, and the first key of a name within it, are ever read:
// they are found by their folded names.
struct IniLayout {
    struct Key {
        QStringView name;
        QStringView value;
        Line line;
        bool first = false;  // the first key of its name in the section
    };
    struct Section {
        QStringView name;
        qsizetype headerBegin = 0;
        qsizetype end = 0;  // the next header line, or the end of the text
        Line lastNonBlank;  // the header itself when the body is blank
        std::vector<Key> keys;
        QHash<QString, std::size_t> firstKey;
        bool first = false;  // the first section of its name

        // The first key named so.
        const Key* find(QStringView key) const;
    };

    explicit IniLayout(QString decoded);
    // The first section named so.
    const Section* find(QStringView name) const;

    QString text;
    std::vector<Section> sections;
    QHash<QString, std::size_t> firstSection;
};

namespace {

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A name as the case-insensitive compare sees it. Folding each UTF-16 unit
// matches that compare here: the text is decoded from Windows-1251 and the
// program's own names are Latin or Cyrillic, so there are no surrogates.
QString folded(QStringView name)
{
    QString f(name.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < name.size(); ++i)
        f[i] = name[i].toCaseFolded();
    return f;
}

} // namespace

IniLayout::IniLayout(QString decoded)
    : text(std::move(decoded))
{
    Line line;
    for (qsizetype pos = 0; nextLine(text, pos, line); pos = line.next) {
        const QStringView c = content(text, line);
        if (const auto header = sectionName(c)) {
            if (!sections.empty())
                sections.back().end = line.begin;
            Section s;
            s.name = *header;
            s.headerBegin = line.begin;
            s.lastNonBlank = line;
            s.end = text.size();
            sections.push_back(std::move(s));
            continue;
        }
        if (sections.empty())
            continue;  // before the first section: kept, never read
        Section& s = sections.back();
        if (!c.isEmpty())
            s.lastNonBlank = line;
        if (const auto k = keyLine(c))
            s.keys.push_back({k->key, k->value, line});
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        Section& s = sections[i];
        const QString name = folded(s.name);
        s.first = !firstSection.contains(name);
        if (s.first)
            firstSection.insert(name, i);
        for (std::size_t j = 0; j < s.keys.size(); ++j) {
            const QString key = folded(s.keys[j].name);
            s.keys[j].first = !s.firstKey.contains(key);
            if (s.keys[j].first)
                s.firstKey.insert(key, j);
        }
    }
}

const IniLayout::Section* IniLayout::find(QStringView name) const
{
    const auto it = firstSection.constFind(folded(name));
    return it == firstSection.cend() ? nullptr : &sections[*it];
}

const IniLayout::Key* IniLayout::Section::find(QStringView key) const
{
    const auto it = firstKey.constFind(folded(key));
    return it == firstKey.cend() ? nullptr : &keys[*it];
}

namespace {

QStringView unquoted(QStringView v)
{
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == u'"' || v.front() == u'\''))
        return v.mid(1, v.size() - 2);
    return v;
}

// The decoded text of an INI file, or empty for a missing or unusable one.
QString readText(const QString& path)
{
    QByteArray bytes;
    if (ReadRegularFile(path, kMaxFileSize, bytes) != FileLoad::Ok)
        return QString();
    return cp1251::Decode(bytes);
}

// Bytes held in memory read as the same bytes in a file would.
QString heldText(const QByteArray& bytes)
{
    return bytes.size() > kMaxFileSize ? QString() : cp1251::Decode(bytes);
}

std::optional<QString> lookup(const IniLayout& layout, const QString& section, const QString& key)
{
    const IniLayout::Section* s = layout.find(section);
    const IniLayout::Key* k = s ? s->find(key) : nullptr;
    if (!k)
        return std::nullopt;
    return unquoted(k->value).toString();
}

bool hasLineBreak(const QString& s)
{
    return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n'));
}

const QByteArray kCrLf("\r\n");

QByteArray slice(const QByteArray& bytes, qsizetype from, qsizetype to)
{
    return bytes.mid(from, to - from);
}

// --- Writing -----------------------------------------------------------

[[noreturn]] void unableToWrite(const QString& path)
{
    throw EIniFileException::unableToWrite(path);
}

// Rewrites the file at path through edit(). edit gets the current bytes and
// their decoded text and returns the new bytes, or nullopt when nothing is to
// change. A file that does not exist is created only when create is true.
void rewriteFile(const QString& path, bool create,
                 const std::function<std::optional<QByteArray>(const QByteArray&, const IniLayout&)>& edit)
{
    const QString target = ResolveLinks(path);
    const QFileInfo targetInfo(target);
    const QString dir = targetInfo.absolutePath();

    FileStatus status;
    if (!MayReplace(target, &status))
        unableToWrite(path);
    if (!status.exists && !create)
        return;

    if (!WritableDirectory(dir))
        unableToWrite(path);

    QByteArray bytes;
    if (status.exists && ReadRegularFile(target, kMaxFileSize, bytes) != FileLoad::Ok)
        unableToWrite(path);  // never replace what could not be read whole

    const std::optional<QByteArray> updated = edit(bytes, IniLayout(cp1251::Decode(bytes)));
    if (!updated)
        return;

    if (!ReplaceFile(target, *updated, status))
        unableToWrite(path);
}

[[noreturn]] void lineBreakRefused(const QString& path, const QString& section, const QString& key, bool inValue)
{
    if (inValue)
        throw AppError(QStringLiteral("Значение параметра %1 раздела [%2] содержит перевод строки "
                                      "и не может быть записано в файл %3")
                           .arg(key, section, path));
    throw AppError(QStringLiteral("Имя раздела или параметра содержит перевод строки "
                                  "и не может быть записано в файл %1")
                       .arg(path));
}

} // namespace

IniFile::IniFile(QString path)
    : m_path(std::move(path))
{
}

IniFile IniFile::inMemory(QByteArray bytes, QString name)
{
    IniFile ini(std::move(name));
    ini.m_layout = std::make_shared<const IniLayout>(heldText(bytes));
    ini.m_memory = std::move(bytes);
    return ini;
}

std::shared_ptr<const IniLayout> IniFile::layout() const
{
    return m_memory ? m_layout : std::make_shared<const IniLayout>(readText(m_path));
}

void IniFile::rewrite(bool create, const Edit& edit)
{
    if (!m_memory) {
        rewriteFile(m_path, create, edit);
        return;
    }
    // Held bytes always exist, so create has nothing to decide.
    if (m_memory->size() > kMaxFileSize)
        unableToWrite(m_path);
    if (std::optional<QByteArray> updated = edit(*m_memory, *m_layout)) {
        m_layout = std::make_shared<const IniLayout>(heldText(*updated));
        m_memory = std::move(*updated);
    }
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    const auto v = lookup(*layout(), section, key);
    return v ? *v : def;
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const
{
    const auto v = lookup(*layout(), section, key);
    return v ? StrToIntDef(*v, def) : def;
}

double IniFile::readFloat(const QString& section, const QString& key, double def) const
{
    const auto v = lookup(*layout(), section, key);
    double d = 0;
    return v && TryStrToFloat(*v, d) ? d : def;
}

bool IniFile::sectionExists(const QString& section) const
{
    // A header alone is enough, as GetPrivateProfileSectionNames lists it.
    return layout()->find(section) != nullptr;
}

bool IniFile::valueExists(const QString& section, const QString& key) const
{
    return lookup(*layout(), section, key).has_value();
}

namespace {

// Names in order, each once whatever its case: only the first of a name is
// ever read.
template <typename Items, typename Name>
QStringList firstNames(const Items& items, Name name)
{
    QStringList names;
    for (const auto& item : items) {
        if (item.first)
            names << name(item).toString();
    }
    return names;
}

} // namespace

QStringList IniFile::readSection(const QString& section) const
{
    const auto l = layout();
    const IniLayout::Section* s = l->find(section);
    return s ? firstNames(s->keys, [](const IniLayout::Key& k) { return k.name; }) : QStringList();
}

QStringList IniFile::readSections() const
{
    const auto l = layout();
    return firstNames(l->sections, [](const IniLayout::Section& s) { return s.name; });
}

void IniFile::checkWritable(const QString& section, const QString& key, const QString& value) const
{
    // A line break would end the line early and let the rest of the value
    // pose as further keys or sections.
    if (hasLineBreak(section) || hasLineBreak(key))
        lineBreakRefused(m_path, section, key, false);
    if (hasLineBreak(value))
        lineBreakRefused(m_path, section, key, true);
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    checkWritable(section, key, value);

    const QByteArray newLine = cp1251::Encode(key + QLatin1Char('=') + value);
    rewrite(true, [&](const QByteArray& bytes, const IniLayout& layout) -> std::optional<QByteArray> {
        const IniLayout::Section* s = layout.find(section);
        if (!s) {
            QByteArray out = bytes;
            if (!out.isEmpty() && !out.endsWith('\n'))
                out += kCrLf;
            out += cp1251::Encode(QLatin1Char('[') + section + QLatin1Char(']')) + kCrLf + newLine + kCrLf;
            return out;
        }
        if (const IniLayout::Key* k = s->find(key))
            return slice(bytes, 0, k->line.begin) + newLine + slice(bytes, k->line.end, bytes.size());

        const Line& last = s->lastNonBlank;
        const bool terminated = last.next > last.end;
        QByteArray out = slice(bytes, 0, last.next);
        if (!terminated)
            out += kCrLf;
        out += newLine + kCrLf;
        out += slice(bytes, last.next, bytes.size());
        return out;
    });
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::eraseSection(const QString& section)
{
    rewrite(false, [&](const QByteArray& bytes, const IniLayout& layout) -> std::optional<QByteArray> {
        // Every section of the name goes: a later duplicate would otherwise
        // come to light as the section just erased.
        QByteArray out;
        qsizetype kept = 0;
        bool changed = false;
        for (const IniLayout::Section& s : layout.sections) {
            if (!sameName(s.name, section))
                continue;
            out += slice(bytes, kept, s.headerBegin);
            kept = s.end;
            changed = true;
        }
        if (!changed)
            return std::nullopt;
        out += slice(bytes, kept, bytes.size());
        return out;
    });
}

void IniFile::deleteKey(const QString& section, const QString& key)
{
    rewrite(false, [&](const QByteArray& bytes, const IniLayout& layout) -> std::optional<QByteArray> {
        const IniLayout::Section* s = layout.find(section);
        if (!s)
            return std::nullopt;
        // Every line of the key in that section, so no older duplicate
        // surfaces after the delete.
        QByteArray out;
        qsizetype kept = 0;
        for (const IniLayout::Key& k : s->keys) {
            if (sameName(k.name, key)) {
                out += slice(bytes, kept, k.line.begin);
                kept = k.line.next;
            }
        }
        if (kept == 0)
            return std::nullopt;
        out += slice(bytes, kept, bytes.size());
        return out;
    });
}
