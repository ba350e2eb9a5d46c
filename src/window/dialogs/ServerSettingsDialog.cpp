#include "window/dialogs/ServerSettingsDialog.h"

#include "window/widgets/Fonts.h"
#include "window/widgets/Widgets.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ServerSettingsDialog::ServerSettingsDialog(const MeasurementServer& current, QWidget* parent)
    : QDialog(parent)
    , m_current(current)
    , m_chosen(current)
    , m_fetch(new ServerDescriptorFetch(this)) {
    setObjectName(QStringLiteral("ServerSettingsDialog"));
    setWindowTitle(QStringLiteral("測定サーバーの設定"));
    setFont(PixelFont(kGothic, 12));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    HostEdit = MakeEdit(this, "HostEdit", false);
    HostEdit->setText(current.host);
    HostEdit->setMinimumWidth(260);
    HostEdit->setAccessibleName(QStringLiteral("ホスト名"));
    PortEdit = MakeEdit(this, "PortEdit", false);
    PortEdit->setText(QString::number(current.port));
    PortEdit->setMaxLength(5);
    PortEdit->setFixedWidth(80);
    PortEdit->setAccessibleName(QStringLiteral("ポート番号"));
    for (QLineEdit* e : {HostEdit, PortEdit})
        e->setAttribute(Qt::WA_InputMethodEnabled, false);
    auto* hostLabel = MakeLabel(this, "HostLabel", QStringLiteral("ホスト名(&H):"));
    hostLabel->setBuddy(HostEdit);
    auto* portLabel = MakeLabel(this, "PortLabel", QStringLiteral("ポート番号(&P):"));
    portLabel->setBuddy(PortEdit);
    form->addRow(hostLabel, HostEdit);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(PortEdit);
    CheckButton = MakeButton(this, "CheckButton", QStringLiteral("接続確認"));
    CheckButton->setAutoDefault(false);
    CheckButton->setToolTip(QStringLiteral("サーバーの案内（quillmet.json）を読みます"));
    portRow->addWidget(CheckButton);
    portRow->addStretch(1);
    form->addRow(portLabel, portRow);
    FamilyBox = Named(new QComboBox(this), "FamilyBox");
    FamilyBox->setAccessibleName(QStringLiteral("接続に使うアドレス"));
    FamilyBox->addItem(QStringLiteral("測定ごとの既定"), -1);
    FamilyBox->setItemData(
        0, QStringLiteral("ダウンロードは IPv4、HTTP アップロードは自動で接続します"),
        Qt::ToolTipRole);
    const std::pair<AddressFamily, const char*> families[] = {{AddressFamily::Ipv4, "IPv4"},
                                                              {AddressFamily::Ipv6, "IPv6"},
                                                              {AddressFamily::Auto, "自動"}};
    for (const auto& [family, caption] : families)
        FamilyBox->addItem(QString::fromUtf8(caption), int(family));
    FamilyBox->setCurrentIndex(current.family ? FamilyBox->findData(int(*current.family)) : 0);
    auto* familyLabel = MakeLabel(this, "FamilyLabel", QStringLiteral("接続に使うアドレス(&A):"));
    familyLabel->setBuddy(FamilyBox);
    form->addRow(familyLabel, FamilyBox);
    layout->addLayout(form);

    ResultText = Named(new QPlainTextEdit(this), "ResultText");
    ResultText->setReadOnly(true);
    ResultText->setAccessibleName(QStringLiteral("接続確認の結果"));
    ResultText->setFixedSize(400, 170);
    ResultText->setPlaceholderText(
        QStringLiteral("「接続確認」で、サーバーの名前と見本ファイルを確かめられます。"));
    layout->addWidget(ResultText);

    Buttons = Named(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this),
                    "Buttons");
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("OkButton"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    Buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("CancelButton"));
    layout->addWidget(Buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Buttons, &QDialogButtonBox::accepted, this, &ServerSettingsDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &ServerSettingsDialog::reject);
    BindHandler(CheckButton, &QPushButton::clicked, this, &ServerSettingsDialog::CheckClick);
    connect(m_fetch, &ServerDescriptorFetch::finished, this, &ServerSettingsDialog::OnChecked);
    // A reply for a dialog that has ended is of no use.
    connect(this, &QDialog::finished, m_fetch, &ServerDescriptorFetch::Abort);
}

bool ServerSettingsDialog::ReadFields(MeasurementServer* server) {
    const ServerAddressError error = ParseServerFields(HostEdit->text(), PortEdit->text(), server);
    if (error == ServerAddressError::None)
        return true;
    ResultText->setPlainText(ServerAddressErrorText(error));
    (error == ServerAddressError::BadPort ? PortEdit : HostEdit)->setFocus();
    return false;
}

void ServerSettingsDialog::CheckClick() {
    if (!ReadFields(&m_checking))
        return;
    ResultText->setPlainText(
        QStringLiteral("%1 に問い合わせています…").arg(m_checking.Authority()));
    CheckButton->setEnabled(false);
    m_fetch->Start(m_checking);
}

void ServerSettingsDialog::OnChecked(DescriptorOutcome outcome, const ServerDescriptor& descriptor,
                                     int status) {
    CheckButton->setEnabled(true);
    if (outcome == DescriptorOutcome::Read) {
        m_checking.files = descriptor.FilePaths();
        ResultText->setPlainText(DescriptorSummary(descriptor));
    } else {
        // Without a descriptor nothing is known of the files: the presets stay offered.
        m_checking.files.reset();
        ResultText->setPlainText(DescriptorOutcomeText(outcome, status));
    }
    if (outcome == DescriptorOutcome::Read || outcome == DescriptorOutcome::NoDescriptor)
        m_checked = m_checking;
}

void ServerSettingsDialog::accept() {
    MeasurementServer server;
    if (!ReadFields(&server))
        return;
    const int family = FamilyBox->currentData().toInt();
    if (family >= 0)
        server.family = static_cast<AddressFamily>(family);
    m_chosen = WithKnownFiles(server, {m_checked ? &*m_checked : nullptr, &m_current});
    QDialog::accept();
}
