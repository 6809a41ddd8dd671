// The window's start before its dialog: its name, version and icon, and its command line.
#include "ui/application_start.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "ui/prompts.h"

namespace {

QString reason(int error) { return QString::fromLocal8Bit(strerror(error)); }

}  // namespace

namespace {

void name_application() {
  QCoreApplication::setApplicationName(QStringLiteral("varnelo"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VARNELO_VERSION));
}

}  // namespace

int tell_without_display(int argc, char** argv) {
  bool asks = false;
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version" ||
        arg == "-v") {
      asks = true;
    } else if (arg == "--") {
      break;
    }
  }
  if (!asks) return -1;
  QCoreApplication app(argc, argv);
  name_application();
  // The parser prints the text asked for and ends the process; what else it finds is told.
  return apply_command_line(app.arguments());
}

int prepare_application(QApplication& app) {
  name_application();
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
  QApplication::setWindowIcon(application_icon());
  return apply_command_line(app.arguments());
}

int apply_command_line(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Finds duplicate MP3 files by their audio content. Works on default.mp3db in the "
      "current folder."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption data_folder(
      QStringLiteral("data-folder"),
      QStringLiteral("Work in the program's own folder, %1, made with DataBases/ inside when "
                     "missing, instead of the current folder. The desktop entry starts the "
                     "window so.")
          .arg(data_folder_path()));
  parser.addOption(data_folder);
  parser.process(arguments);

  if (!parser.positionalArguments().isEmpty()) {
    fprintf(stderr, "varnelo: unexpected argument '%s'; see 'varnelo --help'\n",
            qPrintable(parser.positionalArguments().first()));
    return 2;
  }
  if (parser.isSet(data_folder)) {
    const QString folder = data_folder_path();
    QString error;
    if (!enter_data_folder(folder, &error)) {
      const QString text = QStringLiteral("Cannot work in the data folder ") + error;
      fprintf(stderr, "varnelo: %s\n", qPrintable(text));
      prompts::message(nullptr, text, QStringLiteral("Varnelo Error"));
      return 1;
    }
  }
  return -1;
}

QString data_folder_path() {
  // Relative values are invalid by the XDG base directory rules and must be ignored.
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
    base = QDir::homePath() + QStringLiteral("/.local/share");
  }
  return QDir::cleanPath(base + QStringLiteral("/varnelo"));
}

bool enter_data_folder(const QString& folder, QString* error) {
  const QString databases = folder + QStringLiteral("/DataBases");
  const QByteArray path = QFile::encodeName(QDir::cleanPath(databases));
  // Each folder from the root down: the existing ones are left as they are.
  for (qsizetype end = path.indexOf('/', 1);; end = path.indexOf('/', end + 1)) {
    const QByteArray partial = end < 0 ? path : path.left(end);
    if (mkdir(partial.constData(), 0700) != 0 && errno != EEXIST) {
      *error = QFile::decodeName(partial) + QStringLiteral(": ") + reason(errno);
      return false;
    }
    if (end < 0) break;
  }
  struct stat st;
  if (stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = databases + QStringLiteral(": ") + reason(ENOTDIR);
    return false;
  }
  if (chdir(QFile::encodeName(folder).constData()) != 0) {
    *error = folder + QStringLiteral(": ") + reason(errno);
    return false;
  }
  return true;
}

QIcon application_icon() {
  QSvgRenderer svg(QStringLiteral(":/varnelo/icon.svg"));
  QIcon icon;
  if (!svg.isValid()) return icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    svg.render(&painter);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}
