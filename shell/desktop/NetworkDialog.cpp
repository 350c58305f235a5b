#include "shell/desktop/NetworkDialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "config/HTTPConfiguration.h"

NetworkDialog::NetworkDialog(HTTPConfiguration* config) {
    auto* top = new QFormLayout;
    AddRow(top, "Port", NumberField(10, &config->Port, "Port", 1, 65535));
    QLineEdit* threads = NumberField(17, &config->NumThreads, "Number of Simultaneous Connections", 8, 512);
    auto* threadsRow = new QHBoxLayout;
    threadsRow->addWidget(threads);
    threadsRow->addWidget(new QLabel("(minimum 8; maximum 512)"));
    threadsRow->addStretch();
    top->addRow(LabelFor("Number of Simultaneous Connections:", threads), threadsRow);
    QLineEdit* bind = AddRow(top, "Bind Address", TextField(18, &config->BindAddress));
    bind->setPlaceholderText("every address, IPv4 and IPv6");

    auto* timeouts = new QGroupBox("Network Timeouts (in milliseconds)");
    auto* form = new QFormLayout(timeouts);
    AddRow(form, "Receive", NumberField(11, &config->RecvTimeOut, "Receive time-out", 0, kNoLimit));
    AddRow(form, "Send", NumberField(12, &config->SendTimeOut, "Send time-out", 0, kNoLimit));
    QCheckBox* useKeepAlive = FlagBox(15, "Use Keep-Alives", &config->UseKeepAlive);
    form->addRow(useKeepAlive);
    QLineEdit* keepAlive = AddRow(form, "Keep-Alive", NumberField(13, &config->KeepAlive, "Keep-Alive time-out", 0, kNoLimit));
    AddRow(form, "CGI Script", NumberField(16, &config->CGITimeOut, "CGI Script time-out", 0, kNoLimit));
    EnableWhile(useKeepAlive, {keepAlive});
    form->addRow(FlagBox(19, "Answer HTTP/1.1 as HTTP/1.1", &config->UseHTTP11));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(timeouts);
    layout->addWidget(Note("When nine in ten connections are busy, the server reports itself "
                           "overloaded and turns new requests away until connections are free again."));
    layout->addWidget(Note("A few event loops wait on every connection, so one that waits costs little "
                           "more than its socket; each holds one of these slots until it ends, and one "
                           "that has waited five seconds gives its slot up to a newcomer. A CGI Script "
                           "time-out of 0 means no limit."));
    layout->addWidget(Note("The port listens on the Bind Address: one IPv4 or IPv6 address, or a host "
                           "name looked up at start; left empty, on every address of both families."));
    layout->addStretch();
}
