#include "refine_command.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <algorithm>
#include <atomic>
#include <thread>

RefineOutcome runRefineWithProgress(QWidget* parent, const RefineJob& job) {
    std::atomic<bool> cancel{false};
    QProgressDialog dialog(QObject::tr("Fitting the fracture surfaces onto each other…"),
                           QObject::tr("Cancel"), 0, 100, parent);
    dialog.setWindowTitle(QObject::tr("Refine"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(200);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&cancel] { cancel = true; });
    QEventLoop loop;
    RefineOutcome outcome;
    std::thread worker([&] {
        outcome = runRefine(job, 0, &cancel, [&dialog, &cancel](double fraction) {
            QMetaObject::invokeMethod(
                &dialog,
                [&dialog, &cancel, fraction] {
                    if (dialog.wasCanceled())
                        cancel = true;
                    else
                        dialog.setValue(int(fraction * 100.0));
                },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    // Cancel pressed while it ran, even after the last round, leaves everything as it was.
    if (cancel || dialog.wasCanceled())
        outcome.cancelled = true;
    return outcome;
}

std::vector<PanelGLArea::Dot> matchDots(const RefineOutcome& outcome, double contactDistance) {
    std::vector<PanelGLArea::Dot> dots;
    dots.reserve(outcome.matches.size());
    for (const RefineMatch& m : outcome.matches) {
        const double off =
            contactDistance > 0 ? std::min(1.0, (m.onA - m.onB).norm() / contactDistance) : 0.0;
        const Color4b colour = Color4b::fromHsv((1.0 - off) / 3.0, 0.9, 1.0); // green to red
        dots.push_back({(m.onA + m.onB) / 2.0, colour});
    }
    return dots;
}
