#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The texts Qt's Japanese translation lacks: the file dialog's type column names a folder, a
// drive and a link through a context the translation does not hold.
class TMissingQtTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;

  bool isEmpty() const override { return false; }

  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    Q_UNUSED(disambiguation);
    Q_UNUSED(n);
    if (context == nullptr || sourceText == nullptr ||
        qstrcmp(context, "QAbstractFileIconProvider") != 0) {
      return {};
    }
    struct Text {
      const char* english;
      const char16_t* japanese;
    };
    static constexpr Text kTexts[] = {
        {"Folder", u"フォルダー"}, {"File Folder", u"ファイル フォルダー"},
        {"Drive", u"ドライブ"},    {"Shortcut", u"ショートカット"},
        {"Alias", u"エイリアス"},  {"Unknown", u"不明"},
    };
    for (const Text& text : kTexts) {
      if (qstrcmp(sourceText, text.english) == 0) return QString::fromUtf16(text.japanese);
    }
    return {};
  }
};

}  // namespace

bool InstallJapaneseQtTranslation(QCoreApplication* app) {
  // Texts Qt words through the locale rather than a translation (the file dialog's sizes and
  // dates, the names of days and months) follow the default locale.
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  auto* translator = new QTranslator(app);
  // Qt's folder of translations where Qt is installed (Linux); the copy built into the program
  // where Qt is linked in (Windows, see src/app/CMakeLists.txt).
  if (!translator->load(QStringLiteral("qtbase_ja"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      !translator->load(QStringLiteral("qtbase_ja"), QStringLiteral(":/translations"))) {
    delete translator;
    return false;
  }
  // Installed first, so that it is asked last: Qt's own translation answers what it holds.
  QCoreApplication::installTranslator(new TMissingQtTexts(app));
  return QCoreApplication::installTranslator(translator);
}
