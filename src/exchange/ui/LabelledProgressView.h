#pragma once

#include <QWidget>

#include "util/ObserverToken.h"

class QLabel;
class QProgressBar;

namespace ovalis {

struct Notification;

// A progress bar with its label, driven by "Update Labelled Progress": the
// bar's value is the count and its maximum the total, the label shows the
// "label" text when one is given, and both hide while the count is 0. The
// notifications may be posted from any thread; they are shown on the main
// thread.
class LabelledProgressView : public QWidget
{
    Q_OBJECT

public:
    explicit LabelledProgressView(QWidget *parent = nullptr);
    ~LabelledProgressView() override;

    QProgressBar *progressBar() const { return m_progressBar; }
    QLabel *label() const { return m_label; }
    // Whether the bar and label are showing (independently of the window).
    bool isShowingProgress() const;

    // One notification's user info; main thread.
    void updateProgress(const QVariantMap &userInfo);

private:
    QProgressBar *m_progressBar;
    QLabel *m_label;
    ObserverToken m_updateLabelledProgressToken;
};

} // namespace ovalis
