#include "TransferDetails.h"

#include "SpeedGraph.h"
#include "TransferListModel.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QTextBrowser>

CTransferDetails::CTransferDetails(const CTransferListModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_pText(new QTextBrowser(this)),
      m_pGraph(new CSpeedGraph(this)) {
    setObjectName(QStringLiteral("detailsPane"));
    m_pText->setObjectName(QStringLiteral("detailsText"));
    m_pText->setAccessibleName(QStringLiteral("Transfer details"));
    m_pText->setAccessibleDescription(
        QStringLiteral("Everything known about the selected row"));
    m_pText->setOpenLinks(false);
    m_pGraph->setObjectName(QStringLiteral("detailsGraph"));
    m_pGraph->setAccessibleName(QStringLiteral("Speed of the selected transfer"));
    m_pGraph->setMinimumWidth(220);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_pText, 3);
    row->addWidget(m_pGraph, 2);
    ShowRow(0);
}

QList<QPair<QString, QString>> CTransferDetails::Fields(const CTransferListModel& model, int r) {
    QList<QPair<QString, QString>> fields;
    if (r < 0 || r >= model.rowCount())
        return fields;
    const CRowData& row = model.Row(r);
    const RowTexts& t = row.m_texts;
    const auto add = [&fields](const char* label, const QString& value) {
        if (!value.isEmpty())
            fields.append({QString::fromLatin1(label), value});
    };
    const bool tftp = t.service == QLatin1String("Send") || t.service == QLatin1String("Receive");
    const RowDetails* d = row.m_details.get();
    add(t.device ? "Device" : "Client",
        d && d->clientPort && !t.device && tftp ? QStringLiteral("%1 port %2").arg(t.client).arg(d->clientPort)
                                                : t.client);
    add("Host name", t.host);
    add("Service", t.device ? t.service + (t.service == QLatin1String("Send")
                                               ? QStringLiteral(" (Send to Device)")
                                               : QStringLiteral(" (Fetch from Device)"))
                            : t.service);
    if (d && d->ourPort)
        add("Our port", QString::number(d->ourPort));
    if (d && !d->asked.isEmpty()) {
        add("File asked", d->asked);
        if (d->found != d->asked)
            add("File found", d->found);
    } else {
        add("File", t.file);
    }
    add("State", CTransferListModel::StateWord(row.m_nState));
    QString size = t.size;
    if (t.bytes >= 1024)
        size += QStringLiteral(" (%1)").arg(CTransferListModel::ShownSize(t));
    add("Size", size);
    if (tftp) {
        if (d)
            add("Options asked", d->optionsAsked.isEmpty() ? QStringLiteral("none") : d->optionsAsked);
        const QString options = CTransferListModel::NegotiatedText(row);
        add(d ? "Options given" : "Options",
            options.isEmpty() ? QStringLiteral("none negotiated: blksize 512, windowsize 1") : options);
        // Counted as of the end: the engine tells nothing per block.
        if (d && d->ended && d->blocks >= 0)
            add("Blocks", QString::number(d->blocks));
        if (d && d->ended)
            add("Resent and timed out",
                QStringLiteral("%1 packets resent, %2 time-outs").arg(d->retries).arg(d->timeOuts));
    }
    const QString when = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    add("Started", row.Started().toString(when));
    const qint64 ms = model.DurationMs(r);
    if (row.m_nTookMs >= 0)
        add("Ended", row.Started().addMSecs(row.m_nTookMs).toString(when));
    if (ms >= 0)
        add(row.m_nTookMs >= 0 ? "Took" : "Running for", CTransferListModel::DurationText(ms));
    if (const qint64 speed = model.Speed(r); speed >= 0)
        add(row.m_nState == ROW_ACTIVE ? "Speed" : "Average speed",
            QLocale::c().formattedDataSize(speed, 1, QLocale::DataSizeIecFormat) +
                QStringLiteral("/s"));
    // A DHCP or boot row's text is the lease or offer in full; a failure's, its reason.
    add(row.m_nState == ROW_FAILED ? "Why it failed"
        : t.service == QLatin1String("DHCP")     ? "Lease"
        : t.service.startsWith(QLatin1String("Boot")) ? "Offer"
                                                      : "Information",
        t.info);
    if (d && !d->offer.isEmpty())
        add("Answer sent", d->offer.join(QLatin1Char('\n')));
    if (row.m_nState == ROW_ACTIVE && !row.m_strProgressInfo.isEmpty())
        add("Progress", row.m_strProgressInfo);
    if (t.missingFile)
        add("Note", QStringLiteral("The file asked for is not in the working folder"));
    return fields;
}

void CTransferDetails::ShowRow(RowHandle handle) {
    m_nRow = handle;
    Refresh();
}

void CTransferDetails::Refresh() {
    const int r = m_nRow ? m_model.RowOf(m_nRow) : -1;
    QString html;
    if (r < 0) {
        html = m_nRow ? QStringLiteral("<p>The row was cleared from the list.</p>")
                      : QStringLiteral("<p>Select a row to see its details.</p>");
    } else {
        // A line a field, so that a screen reader reads label and value together.
        for (const auto& [label, value] : Fields(m_model, r))
            html += QStringLiteral("<b>%1:</b> %2<br>")
                        .arg(label.toHtmlEscaped(),
                             value.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")));
    }
    // Set only when it changed: a reader's place in the text must not jump each second.
    if (html != m_strShown) {
        m_strShown = html;
        m_pText->setHtml(html);
    }
    m_pGraph->SetSamples(r >= 0 ? m_model.Row(r).m_samples : QList<CSpeedGraph::Sample>());
}
