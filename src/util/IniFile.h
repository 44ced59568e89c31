#pragma once
// An initialisation file with the platform's profile semantics: sections and keys
// compare without regard to case; writing a key replaces its value in place or
// appends it to its section (a missing section is appended); every other line
// stays as it was. Saving replaces the file atomically.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(const QString& path); // loads when the file exists

    bool load(const QString& path);        // false when missing or unreadable (then empty)
    bool save();                           // to the path it was loaded from / set with setPath
    bool saveAs(const QString& path);
    void setPath(const QString& path) { m_path = path; }
    QString path() const { return m_path; }
    QString lastError() const { return m_error; }
    // Saved with mode 0600 (the settings file holds the mail password).
    void setOwnerOnly(bool on) { m_ownerOnly = on; }

    bool sectionExists(const QString& section) const;
    bool keyExists(const QString& section, const QString& key) const;
    QStringList keys(const QString& section) const; // in file order, first occurrence of each
    std::optional<QString> value(const QString& section, const QString& key) const;

    QString readString(const QString& section, const QString& key, const QString& def) const;
    int readInteger(const QString& section, const QString& key, int def) const;
    bool readBool(const QString& section, const QString& key, bool def) const;
    double readFloat(const QString& section, const QString& key, double def) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);
    void writeFloat(const QString& section, const QString& key, double value);
    void deleteKey(const QString& section, const QString& key);
    void eraseSectionKeys(const QString& section); // drops every key line, keeps the header

    QByteArray toBytes() const; // UTF-8, the file's own line endings kept
    bool isDirty() const { return m_dirty; }

private:
    QString m_path;
    QString m_error;
    QStringList m_lines;
    QString m_eol = QStringLiteral("\r\n");
    bool m_dirty = false;
    bool m_finalEol = true; // the last line ends with a line break
    bool m_bom = false;     // the file started with a UTF-8 byte-order mark
    bool m_ownerOnly = false;
    int findSection(const QString& section) const;        // header line index, -1
    int sectionEnd(int headerLine) const;                 // index after the section's last line
    int findKey(const QString& section, const QString& key) const;
};

// Writes data to path through a temporary file in the same folder and a rename,
// so a crash or a full disk never leaves a half-written file behind. ownerOnly
// gives the file mode 0600 whatever it had before.
bool WriteFileAtomic(const QString& path, const QByteArray& data, QString* error = nullptr,
                     bool ownerOnly = false);
