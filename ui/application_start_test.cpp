// The window's start before its dialog: the data folder the desktop entry asks for, the
// command line, and the icon compiled into the program.
#include "ui/application_start.h"

#include <sys/stat.h>

#include <QDir>
#include <QIcon>
#include <QImage>
#include <optional>

#include "ui/ui_test_support.h"

using ui_test::exists;

namespace {

// Sets (or, with nullopt, unsets) an environment variable for one test.
class scoped_env {
 public:
  scoped_env(const char* name, std::optional<QByteArray> value) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) old_ = qgetenv(name);
    if (value) {
      qputenv(name, *value);
    } else {
      qunsetenv(name);
    }
  }
  ~scoped_env() {
    if (old_) {
      qputenv(name_, *old_);
    } else {
      qunsetenv(name_);
    }
  }
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  const char* name_;
  std::optional<QByteArray> old_;
};

QString current_folder() { return QDir::currentPath(); }

mode_t mode_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

const QStringList kDataFolderStart = {QStringLiteral("varnelo"), QStringLiteral("--data-folder")};

}  // namespace

class ApplicationStartTest : public QObject {
  Q_OBJECT

 private slots:
  // Started from the menu, the window makes its own folder (private to the user, as are the
  // folders made above it) with DataBases/ inside and works there; a second start finds it
  // as it was left.
  void dataFolderIsMadePrivateAndEntered() {
    ui_test::fresh_folder here;
    const std::string share = here.file("new share");
    scoped_env xdg("XDG_DATA_HOME", QByteArray::fromStdString(share));
    const QString start = current_folder();

    QCOMPARE(data_folder_path(), QString::fromStdString(share + "/varnelo"));
    QCOMPARE(apply_command_line(kDataFolderStart), -1);
    QCOMPARE(current_folder(), QString::fromStdString(share + "/varnelo"));
    QVERIFY(exists(share + "/varnelo/DataBases"));
    QCOMPARE(mode_of(share), mode_t{0700});
    QCOMPARE(mode_of(share + "/varnelo"), mode_t{0700});
    QCOMPARE(mode_of(share + "/varnelo/DataBases"), mode_t{0700});

    testing_support::write_file(share + "/varnelo/default.mp3db", std::string("kept"));
    testing_support::write_file(share + "/varnelo/DataBases/old.mp3db", std::string("kept"));
    chmod(share.c_str(), 0755);
    QVERIFY(QDir::setCurrent(start));
    QCOMPARE(apply_command_line(kDataFolderStart), -1);
    QCOMPARE(current_folder(), QString::fromStdString(share + "/varnelo"));
    QCOMPARE(mode_of(share), mode_t{0755});
    QCOMPARE(testing_support::read_file(share + "/varnelo/default.mp3db").size(), size_t{4});
    QCOMPARE(testing_support::read_file(share + "/varnelo/DataBases/old.mp3db").size(), size_t{4});
  }

  // XDG_DATA_HOME unset, empty or relative (which the XDG rules call invalid) means
  // ~/.local/share.
  void dataFolderFallsBackToHome() {
    ui_test::fresh_folder here;
    scoped_env home("HOME", QByteArray::fromStdString(here.file("home")));
    const QString expected = QString::fromStdString(here.file("home/.local/share/varnelo"));
    for (std::optional<QByteArray> value :
         {std::optional<QByteArray>(), std::optional<QByteArray>(""),
          std::optional<QByteArray>("relative/share")}) {
      scoped_env xdg("XDG_DATA_HOME", value);
      QCOMPARE(data_folder_path(), expected);
    }
    scoped_env xdg("XDG_DATA_HOME", std::nullopt);
    QCOMPARE(apply_command_line(kDataFolderStart), -1);
    QCOMPARE(current_folder(), expected);
    QVERIFY(exists(here.file("home/.local/share/varnelo/DataBases")));
  }

  // When the folder cannot be made or entered, the start ends with a box and status 1, in
  // the folder it began in, rather than opening on a database somewhere else.
  void unusableDataFolderEndsTheStartWithABox() {
    ui_test::fresh_folder here;
    const QString start = current_folder();
    struct {
      const char* what;
      std::string share;
      std::string file;  // a file standing where a folder must be
    } cases[] = {
        {"share is a file", here.file("share-file"), here.file("share-file")},
        {"varnelo is a file", here.file("s1"), here.file("s1/varnelo")},
        {"DataBases is a file", here.file("s2"), here.file("s2/varnelo/DataBases")},
    };
    for (const auto& c : cases) {
      testing_support::make_dirs(c.file.substr(0, c.file.rfind('/')));
      testing_support::write_file(c.file, std::string("x"));
      scoped_env xdg("XDG_DATA_HOME", QByteArray::fromStdString(c.share));
      QCOMPARE(apply_command_line(kDataFolderStart), 1);
      QCOMPARE(current_folder(), start);
      const QStringList boxes = prompts::take_boxes();
      QVERIFY2(boxes.size() == 1, c.what);
      QVERIFY2(boxes.first().startsWith(QStringLiteral("Varnelo Error: Cannot work in the data "
                                                       "folder ") +
                                        QString::fromStdString(c.share) + "/varnelo"),
               qPrintable(boxes.first()));
      QVERIFY2(boxes.first().endsWith(QStringLiteral("Not a directory")),
               qPrintable(boxes.first()));
    }
  }

  // Without the option the window keeps the folder it was started in (tools/run); an
  // operand is refused rather than silently ignored.
  void plainStartKeepsTheCurrentFolder() {
    ui_test::fresh_folder here;
    const QString start = current_folder();
    QCOMPARE(apply_command_line({QStringLiteral("varnelo")}), -1);
    QCOMPARE(current_folder(), start);
    QCOMPARE(apply_command_line({QStringLiteral("varnelo"), QStringLiteral("music.mp3db")}), 2);
    QCOMPARE(current_folder(), start);
    QVERIFY(prompts::take_boxes().isEmpty());
  }

  // The icon is drawn from the SVG compiled in: a tile with rounded corners at every size.
  void iconIsDrawnFromTheCompiledSvg() {
    const QIcon icon = application_icon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(256, 256)));
    const QImage image = icon.pixmap(QSize(256, 256)).toImage();
    QCOMPARE(image.size(), QSize(256, 256));
    QCOMPARE(qAlpha(image.pixel(1, 1)), 0);
    QCOMPARE(qAlpha(image.pixel(128, 30)), 255);
  }
};

QTEST_MAIN(ApplicationStartTest)
#include "application_start_test.moc"
