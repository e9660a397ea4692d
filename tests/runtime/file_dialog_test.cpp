// Qt's own file dialog, as the host meets it on an English desktop: its
// words, file types and dates are Chinese once the program's language is set.

#include "runtime/dialogs.h"
#include "runtime/program_language.h"
#include "support/window_test_main.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

using namespace qinghe;

class FileDialogTest : public QObject {
    Q_OBJECT

private slots:
    void fileDialogSpeaksChinese()
    {
        QVERIFY(loadQtChineseTexts());
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("歌单")));
        QFile note(dir.filePath(QStringLiteral("笔记.txt")));
        QVERIFY(note.open(QIODevice::WriteOnly) && note.write("x") == 1);
        note.close();

        QStringList texts;
        QString folderType;
        QString folderDate;
        QTimer look;
        connect(&look, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* list = dialog != nullptr ? dialog->findChild<QTreeView*>(QStringLiteral("treeView")) : nullptr;
            if (list == nullptr)
                return;
            // What the list shows; the folder is read on a thread of its own, so wait for both entries.
            const QAbstractItemModel* shown = list->model();
            QModelIndex folder;
            QModelIndex file;
            for (int row = 0; row < shown->rowCount(list->rootIndex()); ++row) {
                const QModelIndex entry = shown->index(row, 0, list->rootIndex());
                (entry.data().toString() == QStringLiteral("歌单") ? folder : file) = entry;
            }
            if (!folder.isValid() || !file.isValid() || folder.siblingAtColumn(3).data().toString().isEmpty())
                return;
            look.stop();
            folderType = folder.siblingAtColumn(2).data().toString();
            folderDate = folder.siblingAtColumn(3).data().toString();
            texts << dialog->windowTitle() << file.siblingAtColumn(2).data().toString();
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                texts << label->text();
            for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
                texts << button->text() << button->toolTip();
            for (const QTreeView* view : dialog->findChildren<QTreeView*>())
                for (int column = 0; column < view->header()->count(); ++column)
                    texts << view->model()->headerData(column, Qt::Horizontal).toString();
            const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; types != nullptr && i < types->count(); ++i)
                texts << types->itemText(i);
            dialog->reject();
        });
        look.start(10);
        FileDialogRequest request;
        request.initialPath = dir.path();
        QVERIFY(askFileName(request).isEmpty());

        QCOMPARE(folderType, QStringLiteral("文件夹"));
        const QDateTime modified = QFileInfo(dir.filePath(QStringLiteral("歌单"))).lastModified();
        QCOMPARE(folderDate, QLocale(QLocale::Chinese, QLocale::China).toString(modified, QLocale::ShortFormat));
        // Access keys "(&O)" and the "*" of a pattern are no words.
        static const QRegularExpression noWords(QStringLiteral("\\(&[A-Z]\\)|&|\\*|[0-9]"));
        static const QRegularExpression english(QStringLiteral("[A-Za-z]"));
        texts.removeAll(QString());
        QVERIFY(texts.size() > 10);
        for (const QString& text : texts)
            QVERIFY2(!QString(text).remove(noWords).contains(english), qPrintable(text));
    }
};

QINGHE_WINDOW_TEST_MAIN(FileDialogTest)
#include "file_dialog_test.moc"
