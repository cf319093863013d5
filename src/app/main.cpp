#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnostima"));
    QApplication::setOrganizationDomain(QStringLiteral("varnostima.no"));
    QApplication::setApplicationVersion(QStringLiteral(VARNOSTIMA_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    return app.exec();
}
