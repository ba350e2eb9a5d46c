#include "core/state/StateSession.h"

StateSession::StateSession(QString path)
    : m_path(std::move(path))
    , m_lock(m_path) {}

StateOpen StateSession::Open(StateSnapshot& state, const QDateTime& now) {
    StateOpen open;
    if (!m_opened) {
        m_opened = true;
        // No lock to be had (a read-only folder, say): saving goes on as it always did.
        m_readOnly = m_lock.LockForWindow() == StateFileLock::Outcome::Held;
        if (m_readOnly)
            open.status = open.log =
                QStringLiteral("別の Quillmet が qm1.dat "
                               "を使用中のため、このウィンドウの測定履歴などは保存されません。");
    }
    if (m_readOnly) {
        open.load.read = ReadStateFile(m_path, state);
        return open;
    }
    open.load = LoadStateFile(m_path, state, now);
    open.status = StateLoadNotice(open.load);
    if (!open.status.isEmpty())
        open.log = QStringLiteral("%1 (%2)").arg(open.status, open.load.read.reason);
    return open;
}

StateSave StateSession::Save(const std::function<StateSnapshot()>& capture,
                             const std::function<bool(const QString& question)>& retry) {
    for (;;) {
        StateSave save;
        if (m_readOnly) {
            save.outcome = StateSave::Outcome::ReadOnly;
            return save;
        }
        save.write = WriteStateFile(m_path, capture());
        if (save.write.ok)
            return save;
        const QString name = QString::fromLatin1(StateFileName);
        save.outcome = StateSave::Outcome::Failed;
        save.status = QStringLiteral("履歴を保存できませんでした: %1").arg(save.write.error);
        save.log = QStringLiteral("%1 を保存できませんでした: %2").arg(name, save.write.reason);
        if (!retry || m_unattended)
            return save;
        const QString question =
            QStringLiteral("測定履歴などを %1 に保存できませんでした。\n%2\n\n"
                           "再試行しますか？（キャンセルすると保存せずに終了します）")
                .arg(name, save.write.reason);
        if (!retry(question) && !m_unattended) {
            save.outcome = StateSave::Outcome::GaveUp;
            return save;
        }
    }
}
