#include "batchreplace/folder_lists.h"

#include "core/documents/folder_listing.h"

#include <QDir>
#include <QKeyEvent>
#include <QStorageInfo>

std::filesystem::path toPath(const QString& s) {
    return std::filesystem::path(s.toStdU16String());
}

QString fromPath(const std::filesystem::path& p) {
    return QString::fromStdU16String(p.u16string());
}

// ---------------------------------------------------------------- DriveList

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        const QString root = volume.rootPath();
        const QString label = volume.name().isEmpty() ? QString() : " [" + volume.name() + "]";
        addItem(QDir::toNativeSeparators(root) + label, root);
    }
    connect(this, &QComboBox::activated, this, [this](int) { emit changed(); });
}

QString DriveList::drive() const {
    return currentData().toString();
}

void DriveList::selectDrive(const QString& root) {
    const int index = findData(root);
    if (index >= 0) {
        QSignalBlocker block(this);
        setCurrentIndex(index);
    }
}

void DriveList::selectVolumeOf(const QString& path) {
    // The volume whose root is the longest prefix of the path.
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i).toString();
        const bool inside = path == root || path.startsWith(root.endsWith('/') ? root : root + '/');
        if (inside && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    if (best >= 0) {
        QSignalBlocker block(this);
        setCurrentIndex(best);
    }
}

// ---------------------------------------------------------------- DirList

DirList::DirList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        emit openRequested(item->data(Qt::UserRole).toString());
    });
}

bool DirList::setPath(const QString& folder, QString& error) {
    QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    std::vector<std::string> children;
    try {
        children = documents::listSubfolders(toPath(clean));
    } catch (const std::filesystem::filesystem_error& e) {
        error = "无法打开文件夹“" + QDir::toNativeSeparators(clean) + "”：" +
                QString::fromLocal8Bit(e.code().message());
        return false;
    }

    const bool changedPath = clean != path_;
    path_ = clean;

    clear();
    // Ancestors from the root down to the folder itself, then its children,
    // each with its full path in the system's own form (C:\Users on Windows).
    int depth = 0;
    auto addEntry = [this](const QString& text, const QString& full, int indent) {
        auto* item = new QListWidgetItem(QString(indent * 2, ' ') + text, this);
        item->setData(Qt::UserRole, full);
        return item;
    };
    QListWidgetItem* current = nullptr;
    QString at;
    for (const documents::FolderStep& step :
         documents::folderAncestors(clean.toStdString(), documents::nativePathStyle())) {
        at = QString::fromStdString(step.path);
        current = addEntry(QString::fromStdString(step.name), at, depth++);
    }
    QFont bold = current->font();
    bold.setBold(true);
    current->setFont(bold);
    for (const std::string& child : children) {
        const QString name = QString::fromUtf8(child.data(), qsizetype(child.size()));
        addEntry(name,
                 at + (at.endsWith(QDir::separator()) ? "" : QString(QDir::separator())) + name,
                 depth);
    }
    setCurrentItem(current);

    if (changedPath)
        emit changed();
    return true;
}

// ---------------------------------------------------------------- FileList

FileList::FileList(QWidget* parent)
    : QListWidget(parent), pattern_(QString::fromUtf8(documents::kWordDocumentsPattern.data())) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void FileList::setPattern(const QString& pattern) {
    pattern_ = pattern;
    refresh();
}

void FileList::setPath(const QString& folder) {
    path_ = folder;
    refresh();
}

void FileList::setSubfolders(bool on) {
    options_.subfolders = on;
    refresh();
}

void FileList::setExcludedFolders(std::vector<std::filesystem::path> folders) {
    options_.excludedFolders = std::move(folders);
    refresh();
}

void FileList::refresh() {
    clear();
    names_.clear();
    warnings_.clear();
    if (path_.isEmpty())
        return;
    try {
        auto listing = documents::listDocuments(toPath(path_), pattern_.toStdString(), options_);
        names_ = std::move(listing.files);
        warnings_ = std::move(listing.warnings);
    } catch (const std::filesystem::filesystem_error&) {
        names_.clear();
    }
    for (const std::string& name : names_)
        addItem(QString::fromUtf8(name.data(), qsizetype(name.size())));
}
