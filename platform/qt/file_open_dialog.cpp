#include "platform/qt/file_open_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

namespace platform {

FileOpenDialog::FileOpenDialog(QWidget* parent, const QString& folder, const QString& pattern,
                               const QString& name)
    : QDialog(parent),
      model_(new QFileSystemModel(this)),
      list_(new QListView(this)),
      folder_field_(new QLineEdit(this)),
      name_field_(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Abrir"));

    // Subfolders always, files by the pattern; a file that does not match is not shown.
    model_->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    model_->setNameFilterDisables(false);
    model_->setReadOnly(true);
    list_->setModel(model_);
    list_->setUniformItemSizes(true);

    folder_field_->setReadOnly(true);
    auto* up = new QToolButton(this);
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setToolTip(QStringLiteral("Acima um nível"));
    auto* open = new QPushButton(QStringLiteral("Abrir"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    open->setDefault(true);

    auto* look_in = new QLabel(QStringLiteral("Examinar:"), this);
    look_in->setBuddy(folder_field_);
    auto* file_name = new QLabel(QStringLiteral("Nome do arquivo:"), this);
    file_name->setBuddy(name_field_);
    auto* grid = new QGridLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(folder_field_);
    top->addWidget(up);
    grid->addWidget(look_in, 0, 0);
    grid->addLayout(top, 0, 1, 1, 2);
    grid->addWidget(list_, 1, 0, 1, 3);
    grid->addWidget(file_name, 2, 0);
    grid->addWidget(name_field_, 2, 1);
    grid->addWidget(open, 2, 2);
    grid->addWidget(cancel, 3, 2);
    resize(560, 380);

    connect(up, &QToolButton::clicked, this, [this] {
        QDir parent_folder(folder_);
        if (parent_folder.cdUp()) Enter(parent_folder.absolutePath());
    });
    connect(open, &QPushButton::clicked, this, [this] { Open(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QListView::activated, this,
            [this](const QModelIndex& index) { Activated(index); });
    connect(list_, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (!model_->isDir(index)) name_field_->setText(model_->fileName(index));
    });

    SetPattern(pattern);
    Enter(folder);
    name_field_->setText(name);  // after Enter, which shows the pattern
    name_field_->setFocus();
}

QString FileOpenDialog::Name() const {
    return name_field_->text();
}

void FileOpenDialog::SetName(const QString& name) {
    name_field_->setText(name);
}

void FileOpenDialog::Open() {
    const QString name = name_field_->text();
    if (name.isEmpty()) return;
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        SetPattern(name);
        return;
    }
    const QString path = QDir::cleanPath(QDir(folder_).absoluteFilePath(name));
    if (QFileInfo(path).isDir()) {
        Enter(path);
        return;
    }
    chosen_ = QDir::toNativeSeparators(path);
    accept();
}

void FileOpenDialog::Enter(const QString& folder) {
    folder_ = QDir::cleanPath(QDir(folder).absolutePath());
    folder_field_->setText(QDir::toNativeSeparators(folder_));
    list_->setRootIndex(model_->setRootPath(folder_));
    // In a new folder the name field shows the pattern again, as the dialog opened.
    name_field_->setText(pattern_ == QStringLiteral("*") ? QString() : pattern_);
}

void FileOpenDialog::SetPattern(const QString& pattern) {
    pattern_ = pattern;
    model_->setNameFilters(pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts));
}

void FileOpenDialog::Activated(const QModelIndex& index) {
    if (model_->isDir(index)) {
        Enter(model_->filePath(index));
        return;
    }
    name_field_->setText(model_->fileName(index));
    Open();
}

}  // namespace platform
