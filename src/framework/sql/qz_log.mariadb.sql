-- The document log's tables on MariaDB, utf8mb4. Columns whose names begin with META_ are
-- optional: the document log fills each from the metadata field of that external name.
--   mariadb --default-character-set=utf8mb4 -u USER -p DATABASE < qz_log.mariadb.sql
CREATE TABLE qz_log (
  DOCID        VARCHAR(32)  NULL,
  STACKID      VARCHAR(32)  NULL,
  CREATIONDATE DATETIME(3)  NOT NULL,
  USERNAME     VARCHAR(255) NULL,
  SERVICE      VARCHAR(255) NULL,
  APPLICATION  VARCHAR(255) NULL,
  HOST         VARCHAR(255) NULL,
  LOGTYPE      VARCHAR(32)  NULL,
  LOGTEXT      LONGTEXT     NULL,
  KEY qz_log_docid (DOCID),
  KEY qz_log_creationdate (CREATIONDATE)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;
CREATE TABLE qz_meta (
  DOCID      VARCHAR(32)  NOT NULL,
  FIELDNAME  VARCHAR(255) NOT NULL,
  FIELDVALUE LONGTEXT     NULL,
  KEY qz_meta_docid (DOCID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_ci;
