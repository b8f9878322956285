#pragma once

#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>
#include <functional>
#include <string>

class QDialog;
class QAbstractButton;
class QButtonGroup;
class QLabel;
class QMenuBar;
class QPixmap;
class QWidget;

namespace mirova::ui {

// The pieces every small window of the program is built from: a fixed-size window with the
// look, static texts and icons placed at fixed positions, and its placement over its owner.

// Gives a dialog the look, its caption and the fixed client size of its template (dialog units).
void SetUpDialogWindow(QDialog* dialog, const QString& caption, int widthUnits, int heightUnits);

// A static text as the dialog manager draws one: left-aligned from the top, broken at word
// boundaries, no markup. It is at least as tall as the whole lines of the window's font that its
// template height holds (eight units a line, one line at least).
QLabel* AddStaticText(QWidget* window, const QRect& geometry, const QString& text);

// A static icon; it takes the size of its picture.
QLabel* AddStaticIcon(QWidget* window, QPoint topLeft, const QPixmap& icon);

// The window that a new window of the program belongs to when its caller names none: the active
// window, else the first visible top-level window other than the new one.
QWidget* DefaultOwner(const QWidget* newWindow);

// Keeps a top-level window above its owner's window and centres it over that window, or on the
// owner's screen when asked (or without an owner), inside the screen's available area. The owner
// is not made the window's parent: a disabled parent would disable the window with it.
enum class Placement { OverOwner, ScreenCentre };
void PlaceOver(QWidget* window, QWidget* owner, Placement placement = Placement::OverOwner);

// The text of preset button `index` (0..29): full-width "１" to "９", then "10" to "30".
QString PresetButtonText(int index);

// The 30 push-like preset buttons of the main dialog and the preset editor, one exclusive
// group, in three rows of ten at their template places. templateRect converts a template
// rectangle (dialog units) to the window's pixels. Return never presses a preset button.
std::array<QAbstractButton*, 30> AddPresetButtons(
    QWidget* window, QButtonGroup* group,
    const std::function<QRect(int left, int top, int width, int height)>& templateRect);

// A caption as a text field shows it: CR LF line breaks (captions from a preset data file of
// the Windows program) become plain line breaks.
QString CaptionText(const std::string& caption);

// The application's palette with every colour set on its own, so that it wins over the look
// that a dialog passes down to its children (the menu bar keeps the standard colours).
QPalette StandardPalette();

// A menu bar at the top of a dialog. The menu bar is the window system's, not part of the
// template: it keeps the standard colours and font rather than the dialog's look.
QMenuBar* AddStandardMenuBar(QWidget* window);

// Widens a control to its preferred width; when that would pass rightLimit, it keeps its right
// edge there and moves left instead.
void FitToText(QWidget* widget, int rightLimit);

}  // namespace mirova::ui
