-- The hospital's SQL Server. pacs is the workstation's own database; Patient_Data, build_file
-- and DICOM belong to the hospital information system and normally exist already: their parts
-- below are for a test server only. Run with sqlcmd (statements separated by GO).
IF DB_ID('pacs') IS NULL CREATE DATABASE pacs;
GO
USE pacs;
GO
CREATE TABLE dbo.tblSchemaVersion (version INT NOT NULL);
CREATE TABLE dbo.tblTransaction (
  trans_id BIGINT IDENTITY(1,1) PRIMARY KEY,
  trans_no VARCHAR(16) NOT NULL,
  patient_id VARCHAR(10),
  hospnum VARCHAR(10),
  RevenueID VARCHAR(10),
  file_no VARCHAR(20),
  exam_id VARCHAR(10),
  refdoc_id VARCHAR(10),
  radiologist_id VARCHAR(10),
  technologist_id VARCHAR(20),
  by_trans VARCHAR(20),
  date_trans DATETIME,
  StudyUID VARCHAR(255),
  interpretation NVARCHAR(MAX),
  by_interpret VARCHAR(20),
  date_interpret DATETIME
);
CREATE UNIQUE INDEX ux_tblTransaction_trans_no ON dbo.tblTransaction (trans_no);
CREATE INDEX ix_tblTransaction_modality_date ON dbo.tblTransaction (RevenueID, date_trans);
CREATE INDEX ix_tblTransaction_patient ON dbo.tblTransaction (patient_id);
CREATE INDEX ix_tblTransaction_hospnum ON dbo.tblTransaction (hospnum);
CREATE TABLE dbo.tblTransNo (trans_no BIGINT NOT NULL);
CREATE TABLE dbo.tblPatient (
  patient_id BIGINT PRIMARY KEY,
  name_last NVARCHAR(50), name_first NVARCHAR(50), name_middle NVARCHAR(50),
  date_birth DATETIME, sex_type VARCHAR(1),
  by_created VARCHAR(20), by_updated VARCHAR(20), date_updated DATETIME
);
CREATE INDEX ix_tblPatient_name ON dbo.tblPatient (name_last, name_first, name_middle);
CREATE TABLE dbo.tblExam (exam_id VARCHAR(10) PRIMARY KEY, exam_name NVARCHAR(100), modality_code VARCHAR(10));
CREATE INDEX ix_tblExam_modality ON dbo.tblExam (modality_code, exam_name);
CREATE TABLE dbo.tblExamCode (
  examcode_id BIGINT IDENTITY(1,1) PRIMARY KEY, exam_id VARCHAR(10), examcode NVARCHAR(MAX),
  radiologist_id VARCHAR(10), by_created VARCHAR(20), by_updated VARCHAR(20), date_updated DATETIME
);
CREATE INDEX ix_tblExamCode_exam ON dbo.tblExamCode (exam_id, radiologist_id);
CREATE TABLE dbo.tblDoctor (
  doctor_id VARCHAR(10) PRIMARY KEY, name_last NVARCHAR(50), name_first NVARCHAR(50), name_middle NVARCHAR(50),
  radiologist VARCHAR(1)
);
CREATE TABLE dbo.tblTechnologist (
  technologist_id VARCHAR(20) PRIMARY KEY, name_last NVARCHAR(50), name_first NVARCHAR(50), name_middle NVARCHAR(50)
);
CREATE TABLE dbo.tblFile (
  file_id BIGINT IDENTITY(1,1) PRIMARY KEY, trans_no VARCHAR(16), server_name NVARCHAR(255),
  server_folder NVARCHAR(255), filedir NVARCHAR(255), filename NVARCHAR(255), compname NVARCHAR(64), user_id VARCHAR(20)
);
CREATE INDEX ix_tblFile_trans_no ON dbo.tblFile (trans_no);
CREATE TABLE dbo.tblUser (
  employee_code VARCHAR(20) PRIMARY KEY, full_name NVARCHAR(100), dept_code VARCHAR(10),
  password_hash VARCHAR(255) NOT NULL, failed_tries INT NOT NULL DEFAULT 0, locked_until BIGINT NOT NULL DEFAULT 0
);
INSERT INTO dbo.tblSchemaVersion(version) VALUES (1);
GO
CREATE PROCEDURE dbo.spPassword_UserName @code VARCHAR(20) AS
  SELECT full_name AS FullName FROM dbo.tblUser WHERE employee_code = @code;
GO
IF DB_ID('Patient_Data') IS NULL CREATE DATABASE Patient_Data;
GO
USE Patient_Data;
GO
IF OBJECT_ID('dbo.tbMaster') IS NULL CREATE TABLE dbo.tbMaster (
  HospNum VARCHAR(10) PRIMARY KEY, IdNum VARCHAR(20), LastName NVARCHAR(50), FirstName NVARCHAR(50),
  MiddleName NVARCHAR(50), BirthDate DATETIME, sex VARCHAR(1));
IF OBJECT_ID('dbo.tbPatient') IS NULL CREATE TABLE dbo.tbPatient (
  HospNum VARCHAR(10) NOT NULL, AdmDate DATETIME, RoomID VARCHAR(10), DcrDate DATETIME);
IF OBJECT_ID('dbo.tbOutPatient') IS NULL CREATE TABLE dbo.tbOutPatient (
  HospNum VARCHAR(10) NOT NULL, AdmDate DATETIME, BillingDate DATETIME);
GO
IF DB_ID('build_file') IS NULL CREATE DATABASE build_file;
GO
USE build_file;
GO
IF OBJECT_ID('dbo.tbcoDoctor') IS NULL CREATE TABLE dbo.tbcoDoctor (
  DoctorID VARCHAR(10) PRIMARY KEY, LastName NVARCHAR(50), FirstName NVARCHAR(50), MiddleName NVARCHAR(50),
  userid VARCHAR(20), Status VARCHAR(1), Radiologist VARCHAR(1));
IF OBJECT_ID('dbo.tbcoxrayExam') IS NULL CREATE TABLE dbo.tbcoxrayExam (exam_id VARCHAR(10) PRIMARY KEY, exam_name NVARCHAR(100));
GO
IF DB_ID('DICOM') IS NULL CREATE DATABASE DICOM;
GO
USE DICOM;
GO
IF OBJECT_ID('dbo.spRADIOLOGY_SearchDoctors') IS NULL EXEC('CREATE PROCEDURE dbo.spRADIOLOGY_SearchDoctors
  @radiologistsOnly VARCHAR(1), @name NVARCHAR(50) AS
  SELECT DoctorID, LastName, FirstName, MiddleName FROM build_file.dbo.tbcoDoctor
  WHERE Status = ''A'' AND LastName LIKE @name + ''%'' ORDER BY LastName, FirstName, MiddleName');
GO
