// The main dialog as assistive tools read it: its lists and edits labelled,
// the status bar's parts, and the receive area's text as bytes arrive from a
// simulated device. The lamp's words are checked with the port states.
#include <QAccessible>
#include <QWidget>

#include <algorithm>

#include "tests/e2e/e2e_support.h"
#include "tests/support/accessible.h"
#include "tools/devsim/gbkline.h"

namespace {

using namespace e2e;

class AccessibleTest : public E2ETest {};

QAccessibleInterface* Accessible(const Ui& ui, int id)
{
    return QAccessible::queryAccessibleInterface(ui.widget(id));
}

TEST_F(AccessibleTest, ListsAndEditsAreLabelledAsTheDialogShowsThem)
{
    CTavrinDlg dlg;
    RunDialog(dlg, [&](Ui& ui) {
        const struct {
            int id;
            const char* label;
        } controls[] = {
            {IDC_PORT_COMBO, "串口号"},     {IDC_BAUD_COMBO, "波特率"},    {IDC_PARITY_COMBO, "校验位"},
            {IDC_DATABITS_COMBO, "数据位"}, {IDC_STOPBITS_COMBO, "停止位"}, {IDC_PERIOD_EDIT, "发送周期："},
            {IDC_SEND_EDIT, "发送数据区"},  {IDC_RECV_EDIT, "接收数据区"},
        };
        for (const auto& control : controls) {
            // A screen reader reads the label the control is labelled by, else its name.
            QAccessibleInterface* iface = Accessible(ui, control.id);
            ASSERT_NE(iface, nullptr) << control.id;
            const auto labels = iface->relations(QAccessible::Label);
            EXPECT_EQ((labels.isEmpty() ? iface : labels.first().first)->text(QAccessible::Name).toStdString(),
                      control.label)
                << control.id;
        }
    });
}

// The status bar's parts read as shown and tell their changes; the receive
// area reads what arrives, and tells it as insertions.
TEST_F(AccessibleTest, StatusBarAndReceiveAreaReadAsShownAndTellTheirChanges)
{
    RunOpen({}, [&](CTavrinDlg& dlg, Ui& ui, devsim::DeviceSimulator& device) {
        QAccessibleInterface* bar = Accessible(ui, 0);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->role(), QAccessible::StatusBar);
        ASSERT_EQ(bar->childCount(), 4);
        for (int part = 0; part < 4; ++part) {
            QAccessibleInterface* child = bar->child(part);
            EXPECT_EQ(Gbk(child->text(QAccessible::Name).toStdString()), ui.status(part)) << part;
            EXPECT_EQ(bar->indexOfChild(child), part);
            EXPECT_EQ(bar->childAt(child->rect().center().x(), child->rect().center().y()), child) << part;
        }
        QAccessibleTextInterface* text = Accessible(ui, IDC_RECV_EDIT)->textInterface();
        ASSERT_NE(text, nullptr);

        testsupport::AccessibilityLog log;
        const std::string bytes = "Hello\r\n" + std::string(devsim::kGbkTemperatureLine) + "\r\n";
        device.send(bytes);
        E2E_WAIT(dlg.RecvCount() == static_cast<long long>(bytes.size()), "the dialog to count the bytes");
        EXPECT_EQ(Gbk(bar->child(2)->text(QAccessible::Name).toStdString()), RecvCount(static_cast<long long>(bytes.size())));
        const std::string toldCount = "name " + bar->child(2)->text(QAccessible::Name).toStdString();
        E2E_WAIT(std::ranges::find(log.told, toldCount) != log.told.end(), "the count to be told");
        const QString shown = QString::fromUtf8("Hello\n温度 25.0 度\n");
        EXPECT_EQ(text->text(0, text->characterCount()), shown);
        EXPECT_EQ(text->cursorPosition(), shown.size());
        const auto inserted = [&] {
            std::string all;
            for (const std::string& line : log.told)
                all += line.starts_with("insert ") ? line.substr(line.find(' ', 7) + 1) : "";
            return all;
        };
        E2E_WAIT(inserted() == shown.toStdString(), "the insertions to be told; so far: " << inserted());
    });
}

} // namespace
