#pragma once

// The drive, folder and file lists of the main window.

#include "core/documents/folder_listing.h"

#include <QComboBox>
#include <QListWidget>

#include <filesystem>
#include <string>
#include <vector>

// `Drive1`: the mounted volumes, shown as their root with the volume label.
class DriveList : public QComboBox {
    Q_OBJECT
public:
    explicit DriveList(QWidget* parent = nullptr);
    // The root folder of the selected volume.
    QString drive() const;
    // Selects the volume that holds `path` without raising a change.
    void selectVolumeOf(const QString& path);
    // Selects the volume with that root without raising a change.
    void selectDrive(const QString& root);

signals:
    // The user picked another volume.
    void changed();
};

// `Dir1`: the ancestors and children of one folder. A single click selects an
// entry; a double click (or Enter) asks to open it.
class DirList : public QListWidget {
    Q_OBJECT
public:
    explicit DirList(QWidget* parent = nullptr);
    // The full path, without a trailing separator except at the root.
    QString path() const { return path_; }
    // Shows `folder`; returns false and keeps the current one when it cannot
    // be read (`error` then says why). Emits `changed` when the path changed.
    bool setPath(const QString& folder, QString& error);

signals:
    // The user asked to open the folder `folder`.
    void openRequested(const QString& folder);
    // The path changed.
    void changed();

private:
    QString path_;
};

// `File1`: the ordinary files of a folder that match a pattern, by name;
// optionally those of its subfolders too.
class FileList : public QListWidget {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);
    // One wildcard or several separated by ";" ("*.doc;*.docx;*.docm").
    void setPattern(const QString& pattern);
    QString pattern() const { return pattern_; }
    // Shows the files of `folder`; an unreadable folder shows none.
    void setPath(const QString& folder);
    QString path() const { return path_; }
    // Whether the files of the subfolders are listed too, as paths relative
    // to the folder with "/" between the parts (合同/2024/a.doc).
    void setSubfolders(bool on);
    bool subfolders() const { return options_.subfolders; }
    // Folders never listed, even inside the folder (the application folder,
    // the backup store).
    void setExcludedFolders(std::vector<std::filesystem::path> folders);
    // The subfolders the last listing skipped, one sentence each.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The listed names (relative paths with subfolders), in the order shown.
    int fileCount() const { return static_cast<int>(names_.size()); }
    const std::string& fileName(int index) const { return names_.at(static_cast<size_t>(index)); }

private:
    void refresh();
    QString pattern_;
    QString path_;
    documents::ListingOptions options_;
    std::vector<std::string> names_;
    std::vector<std::string> warnings_;
};

std::filesystem::path toPath(const QString& s);
QString fromPath(const std::filesystem::path& p);
