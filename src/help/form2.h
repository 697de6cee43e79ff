#pragma once

#include "fileoperations.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

/// The help window: Readme.txt from the program folder in an editable, scrolling text box.
class Form2 final : public QWidget
{
    Q_OBJECT

public:
    Form2(FileOperations &files, QString programFolder, QWidget *parent = nullptr);

    /// Reads the help text into the text box.
    void Form_Load();
    /// The text as read, every line ending in CR LF.
    QString helpText() const { return m_helpText; }

    QPlainTextEdit *Text1;
    QPushButton *Command1;

private:
    FileOperations &m_files;
    QString m_programFolder;
    QString m_helpText;
};
