-- Shared server: one database, one schema for each department database.
CREATE SCHEMA IF NOT EXISTS pacs;
CREATE SCHEMA IF NOT EXISTS patient_data;
CREATE SCHEMA IF NOT EXISTS build_file;
CREATE SCHEMA IF NOT EXISTS dicom;

CREATE TABLE pacs.tblSchemaVersion (version INTEGER NOT NULL);

CREATE TABLE pacs.tblTransaction (
  trans_id BIGSERIAL PRIMARY KEY,
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
  date_trans DATE,
  StudyUID VARCHAR(255),
  interpretation TEXT,
  by_interpret VARCHAR(20),
  date_interpret TIMESTAMP(0)
);
CREATE UNIQUE INDEX ux_tblTransaction_trans_no ON pacs.tblTransaction (trans_no);
CREATE INDEX ix_tblTransaction_trans_no_prefix ON pacs.tblTransaction (trans_no varchar_pattern_ops);
CREATE INDEX ix_tblTransaction_modality_date ON pacs.tblTransaction (RevenueID, date_trans);
CREATE INDEX ix_tblTransaction_patient ON pacs.tblTransaction (patient_id);
CREATE INDEX ix_tblTransaction_hospnum ON pacs.tblTransaction (hospnum);

CREATE TABLE pacs.tblTransNo (trans_no BIGINT NOT NULL);

CREATE TABLE pacs.tblPatient (
  patient_id BIGINT PRIMARY KEY,
  name_last VARCHAR(50),
  name_first VARCHAR(50),
  name_middle VARCHAR(50),
  date_birth DATE,
  sex_type VARCHAR(1),
  by_created VARCHAR(20),
  by_updated VARCHAR(20),
  date_updated TIMESTAMP(0)
);
CREATE INDEX ix_tblPatient_name ON pacs.tblPatient (name_last, name_first, name_middle);
CREATE INDEX ix_tblPatient_name_prefix ON pacs.tblPatient (name_last varchar_pattern_ops);
-- The transaction list joins on the registration number as text.
CREATE INDEX ix_tblPatient_id_text ON pacs.tblPatient ((CAST(patient_id AS varchar)));

CREATE TABLE pacs.tblExam (
  exam_id VARCHAR(10) PRIMARY KEY,
  exam_name VARCHAR(100),
  modality_code VARCHAR(10)
);
CREATE INDEX ix_tblExam_modality ON pacs.tblExam (modality_code, exam_name);

CREATE TABLE pacs.tblExamCode (
  examcode_id BIGSERIAL PRIMARY KEY,
  exam_id VARCHAR(10),
  examcode TEXT,
  radiologist_id VARCHAR(10),
  by_created VARCHAR(20),
  by_updated VARCHAR(20),
  date_updated TIMESTAMP(0)
);
CREATE INDEX ix_tblExamCode_exam ON pacs.tblExamCode (exam_id, radiologist_id);

CREATE TABLE pacs.tblDoctor (
  doctor_id VARCHAR(10) PRIMARY KEY,
  name_last VARCHAR(50),
  name_first VARCHAR(50),
  name_middle VARCHAR(50),
  radiologist VARCHAR(1)
);

CREATE TABLE pacs.tblTechnologist (
  technologist_id VARCHAR(20) PRIMARY KEY,
  name_last VARCHAR(50),
  name_first VARCHAR(50),
  name_middle VARCHAR(50)
);

CREATE TABLE pacs.tblFile (
  file_id BIGSERIAL PRIMARY KEY,
  trans_no VARCHAR(16),
  server_name VARCHAR(255),
  server_folder VARCHAR(255),
  filedir VARCHAR(255),
  filename VARCHAR(255),
  compname VARCHAR(64),
  user_id VARCHAR(20)
);
CREATE INDEX ix_tblFile_trans_no ON pacs.tblFile (trans_no);

CREATE TABLE pacs.tblUser (
  employee_code VARCHAR(20) PRIMARY KEY,
  full_name VARCHAR(100),
  dept_code VARCHAR(10),
  password_hash VARCHAR(255) NOT NULL,
  failed_tries INTEGER NOT NULL DEFAULT 0,
  locked_until BIGINT NOT NULL DEFAULT 0
);

CREATE TABLE patient_data.tbMaster (
  HospNum VARCHAR(10) PRIMARY KEY,
  IdNum VARCHAR(20),
  LastName VARCHAR(50),
  FirstName VARCHAR(50),
  MiddleName VARCHAR(50),
  BirthDate DATE,
  sex VARCHAR(1)
);
CREATE INDEX ix_tbMaster_name ON patient_data.tbMaster (LastName, FirstName, MiddleName);

CREATE TABLE patient_data.tbPatient (
  HospNum VARCHAR(10) NOT NULL,
  AdmDate TIMESTAMP(0),
  RoomID VARCHAR(10),
  DcrDate TIMESTAMP(0)
);
CREATE INDEX ix_tbPatient_hospnum ON patient_data.tbPatient (HospNum);

CREATE TABLE patient_data.tbOutPatient (
  HospNum VARCHAR(10) NOT NULL,
  AdmDate TIMESTAMP(0),
  BillingDate TIMESTAMP(0)
);
CREATE INDEX ix_tbOutPatient_hospnum ON patient_data.tbOutPatient (HospNum);

CREATE TABLE build_file.tbcoDoctor (
  DoctorID VARCHAR(10) PRIMARY KEY,
  LastName VARCHAR(50),
  FirstName VARCHAR(50),
  MiddleName VARCHAR(50),
  userid VARCHAR(20),
  Status VARCHAR(1),
  Radiologist VARCHAR(1)
);
CREATE INDEX ix_tbcoDoctor_userid ON build_file.tbcoDoctor (userid);
CREATE INDEX ix_tbcoDoctor_name ON build_file.tbcoDoctor (LastName, FirstName);

CREATE TABLE build_file.tbcoxrayExam (
  exam_id VARCHAR(10) PRIMARY KEY,
  exam_name VARCHAR(100)
);

INSERT INTO pacs.tblSchemaVersion(version) VALUES (1);
