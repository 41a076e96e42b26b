// render_dialogs OUTDIR: renders the main dialog, the about box and the help
// dialog, as the program builds them, to main.png, about.png and help.png in
// OUTDIR, so that a person can look at them. Offscreen unless a platform is
// chosen (under a virtual display the real window frame is not included
// either: the grab is of the dialog's client area).
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

#include "console/aboutdlg.h"
#include "console/helpdlg.h"
#include "console/tavrindlg.h"
#include "framework/afxqt.h"
#include "res/resource.h"

namespace {

// Runs the dialog modally and saves a grab of it once it is up.
bool Render(CDialog& dlg, const QString& path)
{
    bool saved = false;
    QTimer::singleShot(0, [&] {
        QWidget* widget = AfxWidgetFromHandle(dlg.m_hWnd);
        if (widget)
            saved = widget->grab().save(path, "PNG");
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    if (!saved)
        std::fprintf(stderr, "render_dialogs: could not render %s\n", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc != 2) {
        std::fprintf(stderr, "usage: render_dialogs OUTDIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "render_dialogs: cannot create %s\n", argv[1]);
        return 1;
    }
    AfxSetResources(&g_tavrinResources);

    bool ok = true;
    {
        CTavrinDlg dlg;
        ok = Render(dlg, out.filePath(QStringLiteral("main.png"))) && ok;
    }
    {
        CAboutDlg dlg;
        ok = Render(dlg, out.filePath(QStringLiteral("about.png"))) && ok;
    }
    {
        CHelpDlg dlg(nullptr);
        ok = Render(dlg, out.filePath(QStringLiteral("help.png"))) && ok;
    }
    return ok ? 0 : 1;
}
