// The measurement server dialog: host and port, a check of what the server offers, OK/Cancel.
#pragma once

#include "core/server/MeasurementServer.h"
#include "core/server/ServerDescriptor.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class ServerSettingsDialog final : public QDialog {
    Q_OBJECT

public:
    explicit ServerSettingsDialog(const MeasurementServer& current, QWidget* parent = nullptr);

    // The server to use once OK was pressed, with the files its last check listed.
    MeasurementServer Chosen() const { return m_chosen; }
    ServerDescriptorFetch& Fetch() { return *m_fetch; }

    // "接続確認": reads the server's descriptor and shows it (or why not).
    void CheckClick();
    // OK: takes the fields once they name a server.
    void accept() override;

    QLineEdit* HostEdit = nullptr;
    QLineEdit* PortEdit = nullptr;
    QPushButton* CheckButton = nullptr;
    // "接続に使うアドレス": each measurement's default, or one family all of them use.
    QComboBox* FamilyBox = nullptr;
    QPlainTextEdit* ResultText = nullptr;
    QDialogButtonBox* Buttons = nullptr;

private:
    // The fields as a server, or the error shown in the result box.
    bool ReadFields(MeasurementServer* server);
    void OnChecked(DescriptorOutcome outcome, const ServerDescriptor& descriptor, int status);

    MeasurementServer m_current;
    MeasurementServer m_checking;
    std::optional<MeasurementServer> m_checked;
    MeasurementServer m_chosen;
    ServerDescriptorFetch* m_fetch = nullptr;
};
