// marvane-docksim: stands in for a dock. Grows a command per link.
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream(stderr) << "usage: marvane-docksim COMMAND ...\n";
    return 2;
}
