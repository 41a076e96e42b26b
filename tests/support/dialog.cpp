#include "tests/support/dialog.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

namespace testsupport {

std::string WindowText(HWND hWnd)
{
    const int length = GetWindowTextLengthA(hWnd);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(hWnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

INT_PTR RunDialog(CDialog& dlg, const std::function<void(Ui&)>& body)
{
    // Timers die with this object, so none fires after DoModal has returned.
    QObject context;
    bool ran = false;
    std::function<void()> step = [&] {
        if (!::IsWindowVisible(dlg.GetSafeHwnd())) {
            QTimer::singleShot(1, &context, step);
            return;
        }
        ran = true;
        Ui ui(dlg.GetSafeHwnd());
        body(ui);
        // A dialog the body ended is hidden until its modal loop returns.
        if (::IsWindowVisible(dlg.GetSafeHwnd()))
            dlg.EndDialog(kLeftOpen);
    };
    QTimer::singleShot(0, &context, step);
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(ran) << "the dialog did not come up (DoModal gave " << result << ")";
    return result;
}

void Ui::click(int id)
{
    auto* button = qobject_cast<QAbstractButton*>(widget(id));
    if (!button || !button->isEnabled()) {
        ADD_FAILURE() << "control " << id << " is no enabled button";
        return;
    }
    QPoint at = button->rect().center();
    if (qobject_cast<QCheckBox*>(button)) {
        QStyleOptionButton option;
        option.initFrom(button);
        at = button->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, button).center();
    }
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

void Ui::select(int id, int index)
{
    auto* list = qobject_cast<QComboBox*>(widget(id));
    if (!list || index < 0 || index >= list->count()) {
        ADD_FAILURE() << "control " << id << " is no list with an item " << index;
        return;
    }
    list->setCurrentIndex(index);
}

std::string Ui::status(int part) const
{
    const HWND bar = item(0);
    const int length = LOWORD(::SendMessageA(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0));
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    ::SendMessageA(bar, SB_GETTEXTA, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(bytes.data()));
    bytes.resize(static_cast<size_t>(length));
    return bytes;
}

} // namespace testsupport
