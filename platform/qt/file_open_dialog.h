// The file-open dialog behind QtCommonDialog: a dialog of the program's own, in Portuguese,
// over Qt's file-system model. It keeps nothing between uses and reads and writes no settings:
// it opens on the folder it is given, lists that folder's subfolders and the files that match
// its pattern, and hands back the full path of the file chosen. (Qt's own QFileDialog cannot
// be used: it reads the user's Qt settings when it is made and writes its history and last
// folder into them, ~/.config/QtProject.conf, whenever it is destroyed, whatever its options,
// and opens in that remembered folder when given none.)
//
// The name field works as the Windows dialog's does: a name with wildcards ("*.mdb") becomes
// the listing's pattern; the name of a folder enters it; any other name, relative to the
// folder listed or absolute, is the choice, whether the file exists or not.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QListView;
class QModelIndex;

namespace platform {

class FileOpenDialog final : public QDialog {
  public:
    // Opens on `folder` with `name` in the name field; `pattern` selects the files listed.
    FileOpenDialog(QWidget* parent, const QString& folder, const QString& pattern,
                   const QString& name);
    FileOpenDialog(const FileOpenDialog&) = delete;
    FileOpenDialog& operator=(const FileOpenDialog&) = delete;

    // The folder listed, the listing's pattern and the name field's text.
    QString Folder() const { return folder_; }
    QString Pattern() const { return pattern_; }
    QString Name() const;
    // Puts `name` into the name field, as though typed.
    void SetName(const QString& name);
    // What "Abrir" (or Enter) does with the name field; see the head of this file. The dialog
    // is accepted when a file was chosen.
    void Open();
    // The full path of the file chosen, in the platform's separators; empty until one is.
    QString Chosen() const { return chosen_; }

  private:
    void Enter(const QString& folder);
    void SetPattern(const QString& pattern);
    void Activated(const QModelIndex& index);

    QFileSystemModel* model_;
    QListView* list_;
    QLineEdit* folder_field_;
    QLineEdit* name_field_;
    QString folder_;
    QString pattern_;
    QString chosen_;
};

}  // namespace platform
