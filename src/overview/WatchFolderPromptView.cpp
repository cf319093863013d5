#include "WatchFolderPromptView.h"

#include "EmptyFolderStateView.h"
#include "SymbolTile.h"

#include "ui/Buttons.h"
#include "ui/Color.h"
#include "ui/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

using Theme::Foreground;

QLabel *label(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font);
    l->setAlignment(Qt::AlignCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    return l;
}

} // namespace

WatchFolderPromptView::WatchFolderPromptView(SyncManager &syncManager, DirectoryChooser *chooser, QWidget *parent)
    : QWidget(parent), m_syncManager(syncManager), m_chooser(chooser)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(20);
    layout->addStretch(1);
    layout->addWidget(new SymbolTile(QStringLiteral("folder.badge.gearshape"), this), 0, Qt::AlignHCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(label(QStringLiteral("Velg bildemappe"), Theme::bricolage(20, QFont::Bold),
                           Theme::foreground(palette(), Foreground::Primary), this));
    // Line by line with 2 px between lines.
    auto *explanation = label(QStringLiteral("<div style=\"line-height: 16px\">Velg mappen der du lagrer "
                                             "ferdigredigerte bilder.<br>Hver undermappe blir automatisk et "
                                             "galleri.</div>"),
                              Theme::dmSans(12), Theme::foreground(palette(), Foreground::Secondary), this);
    explanation->setTextFormat(Qt::RichText);
    texts->addWidget(explanation);
    layout->addLayout(texts);

    m_button = new ProminentButton(QStringLiteral("Velg eksportmappe…"), this);
    m_button->setControlSize(ProminentButton::ControlSize::Large);
    m_button->setTint(Color::brand());
    connect(m_button, &QAbstractButton::clicked, this, [this] {
        if (m_chooser)
            EmptyFolderStateView::chooseFolder(m_syncManager, *m_chooser, this);
        else
            EmptyFolderStateView::chooseFolder(m_syncManager, this);
    });
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addStretch(1);
}
