// The real alert behind the services: what it shows and how its answers are reported.
#include "QtToolkitServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace morvex;

namespace {

// Acts on the next modal dialog of type D as soon as it is up.
template <class D> void WhenUp(std::function<void(D*)> act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            poll->stop();
            act(dialog);
        }
    });
    poll->start(10);
}

QAbstractButton* Button(QMessageBox* box, const QString& title) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return button;
    return nullptr;
}

} // namespace

class QtServicesTest : public QObject {
    Q_OBJECT
    QtToolkitServices services;
    const AlertOptions question{QStringLiteral("Do you really want to exit this application?"),
                                QStringLiteral("Settings will be lost."),
                                {QStringLiteral("OK"), QStringLiteral("Cancel")}};

private slots:
    void alertAnswersByButtonOrderAndDismissingIsCancel() {
        QString shown;
        WhenUp<QMessageBox>([&](QMessageBox* box) {
            shown = box->text() + QLatin1Char('|') + box->informativeText();
            Button(box, QStringLiteral("OK"))->click();
        });
        QCOMPARE(services.runAlert(nullptr, question), kAlertFirstButton);
        QCOMPARE(shown, question.messageText + QLatin1Char('|') + question.informativeText);
        WhenUp<QMessageBox>(
            [](QMessageBox* box) { Button(box, QStringLiteral("Cancel"))->click(); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        // Escape or the close box must not count as "OK", which would quit or stop a run.
        WhenUp<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        WhenUp<QMessageBox>([](QMessageBox* box) { box->close(); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        WhenUp<QMessageBox>([](QMessageBox* box) { box->buttons().first()->click(); });
        QCOMPARE(services.runAlert(nullptr, {QStringLiteral("File could not be added to list."),
                                             QStringLiteral("Maximum number of tasks reached."),
                                             {}}),
                 kAlertFirstButton);
    }
};

QTEST_MAIN(QtServicesTest)
#include "QtServicesTest.moc"
