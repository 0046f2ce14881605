#include "exchange/OvalisOneTagTables.h"

namespace ovalis {

const QStringList &OvalisOneTagTables::regions()
{
    static const QStringList table = {
        QStringLiteral("Head"),    QStringLiteral("Neck"),   QStringLiteral("Spine"),      QStringLiteral("Chest"),
        QStringLiteral("Abdomen"), QStringLiteral("Pelvis"), QStringLiteral("Upper Limb"), QStringLiteral("Lower Limb"),
    };
    return table;
}

const QStringList &OvalisOneTagTables::systems()
{
    static const QStringList table = {
        QStringLiteral("Breast"),
        QStringLiteral("Cardiac"),
        QStringLiteral("Endocrine"),
        QStringLiteral("Gastrointestinal"),
        QStringLiteral("Genital Tract (Female)"),
        QStringLiteral("Genital Tract (Male)"),
        QStringLiteral("Haematopoietic"),
        QStringLiteral("Head and Neck"),
        QStringLiteral("Hepatobiliary"),
        QStringLiteral("Musculoskeletal"),
        QStringLiteral("Neurological"),
        QStringLiteral("Obstetric"),
        QStringLiteral("Respiratory"),
        QStringLiteral("Urinary Tract"),
        QStringLiteral("Vascular"),
    };
    return table;
}

const QStringList &OvalisOneTagTables::pathologies()
{
    static const QStringList table = {
        QStringLiteral("Artifact"),    QStringLiteral("Autoimmune"),   QStringLiteral("Congenital"),
        QStringLiteral("Developmental"), QStringLiteral("Degenerative"), QStringLiteral("Drug Related"),
        QStringLiteral("Endocrine"),   QStringLiteral("Iatrogenic"),   QStringLiteral("Idiopathic"),
        QStringLiteral("Infective"),   QStringLiteral("Inflammatory"), QStringLiteral("Metabolic"),
        QStringLiteral("Neoplastic"),  QStringLiteral("Neurogenic"),   QStringLiteral("Normal"),
        QStringLiteral("Traumatic"),   QStringLiteral("Vascular"),
    };
    return table;
}

const QStringList &OvalisOneTagTables::modalities()
{
    static const QStringList table = {
        QStringLiteral("CR"), QStringLiteral("CT"), QStringLiteral("IM"), QStringLiteral("MG"), QStringLiteral("MR"),
        QStringLiteral("NM"), QStringLiteral("RF"), QStringLiteral("US"), QStringLiteral("XA"),
    };
    return table;
}

std::optional<QString> OvalisOneTagTables::label(const QStringList &table, qint64 number)
{
    if (number < 1 || number > table.size())
        return std::nullopt;
    return table.at(int(number - 1));
}

} // namespace ovalis
