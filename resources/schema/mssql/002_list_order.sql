-- The transaction list orders by the names of the patient whose registration number joins to the
-- transaction (text to text), NULL names first. Each transaction keeps a copy of those names
-- (list_last, list_first, list_middle: NULL when no patient joins), kept by the triggers below,
-- so that an index hands the list out in its order without sorting every row.
-- The copies are recomputed from tblPatient whenever either side of the join changes; nothing
-- else writes them. Run with sqlcmd (statements separated by GO); no line of a trigger body
-- ends in ';'.
USE pacs;
GO
ALTER TABLE dbo.tblTransaction ADD list_last NVARCHAR(50) NULL, list_first NVARCHAR(50) NULL, list_middle NVARCHAR(50) NULL;
GO
UPDATE t SET list_last = p.name_last, list_first = p.name_first, list_middle = p.name_middle
  FROM dbo.tblTransaction t JOIN dbo.tblPatient p ON CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar);
GO
CREATE TRIGGER dbo.trg_tblTransaction_list_names ON dbo.tblTransaction AFTER INSERT, UPDATE AS
BEGIN
  SET NOCOUNT ON
  IF UPDATE(patient_id)
    UPDATE t SET list_last = p.name_last, list_first = p.name_first, list_middle = p.name_middle
      FROM dbo.tblTransaction t JOIN inserted i ON i.trans_id = t.trans_id
      LEFT JOIN dbo.tblPatient p ON CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar)
END;
GO
CREATE TRIGGER dbo.trg_tblPatient_list_names ON dbo.tblPatient AFTER INSERT, UPDATE, DELETE AS
BEGIN
  SET NOCOUNT ON
  UPDATE t SET list_last = p.name_last, list_first = p.name_first, list_middle = p.name_middle
    FROM dbo.tblTransaction t
    LEFT JOIN dbo.tblPatient p ON CAST(p.patient_id AS varchar) = CAST(t.patient_id AS varchar)
    WHERE t.patient_id IN (SELECT CAST(patient_id AS varchar) FROM inserted
                           UNION SELECT CAST(patient_id AS varchar) FROM deleted)
END;
GO
-- The list in its order, over every modality and within one.
CREATE INDEX ix_tblTransaction_list_order ON dbo.tblTransaction (list_last, list_first, list_middle, trans_no DESC);
CREATE INDEX ix_tblTransaction_modality_list_order ON dbo.tblTransaction (RevenueID, list_last, list_first, list_middle, trans_no DESC);
UPDATE dbo.tblSchemaVersion SET version = 2;
GO
