-- Every column type with the values that are easiest to lose.
SET NAMES utf8mb4;
CREATE DATABASE alltypes CHARACTER SET utf8mb4;
USE alltypes;
CREATE TABLE eltern (id INT NOT NULL PRIMARY KEY, name VARCHAR(20) NOT NULL DEFAULT 'a\\b''c') ENGINE=InnoDB COMMENT='Eltern: ''x'' \\ y';
CREATE TABLE typen (
  id INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  eltern_id INT NULL,
  ti TINYINT, si SMALLINT UNSIGNED, mi MEDIUMINT, bi BIGINT, bu BIGINT UNSIGNED,
  de DECIMAL(30,10), fl FLOAT, db DOUBLE, bt BIT(10),
  da DATE, dt DATETIME(6), ts TIMESTAMP(3) NULL, tm TIME(2), yr YEAR,
  ch CHAR(5), vc VARCHAR(300), bn BINARY(4), vb VARBINARY(300),
  tt TINYTEXT, tx TEXT, lt LONGTEXT, bl BLOB, lb LONGBLOB,
  en ENUM('ja','nein'), st SET('a','b','c'), js JSON,
  CONSTRAINT fk_eltern FOREIGN KEY (eltern_id) REFERENCES eltern (id)
) ENGINE=InnoDB;
INSERT INTO eltern VALUES (1, 'erste'), (2, 'zweite');
INSERT INTO typen (id) VALUES (0);
INSERT INTO typen VALUES (NULL, 1, -128, 65535, -8388608, -9223372036854775808, 18446744073709551615,
  '-12345678901234567890.0123456789', 3.40282e38, 1.7976931348623157e308, b'1010101010',
  '0000-00-00', '0000-00-00 00:00:00', NULL, '-838:59:59', 1901,
  '', '', x'00010203', '',
  '', '', '', '', '',
  'ja', '', '{}');
INSERT INTO typen VALUES (NULL, 2, 127, 0, 8388607, 9223372036854775807, 0,
  '0.0000000001', -1.17549e-38, 2.2250738585072014e-308, b'0',
  '9999-12-31', '2038-01-19 03:14:07.999999', '2038-01-19 03:14:07.999', '838:59:59.99', 2155,
  'ä"ö', 'quote '' and "double" and \\ back\\slash\\', x'FF00FF00', x'0D0A5C2722',
  'CR\rLF\nCRLF\r\n', 'tab\there', REPEAT('lang ', 5000), x'5C', x'00',
  'nein', 'a,c', '{"k": "v\\"q"}');
INSERT INTO typen (id, vc, tx, db, tm, dt) VALUES (1000, '😀 emoji 𝄞', 'NULL', -0.0, '-00:00:01.5', '1000-01-01 00:00:00.000001');
CREATE TABLE `my-table` (`a b` INT NOT NULL, `c``d` VARCHAR(10) NULL, PRIMARY KEY (`a b`)) ENGINE=InnoDB;
INSERT INTO `my-table` VALUES (1, NULL), (2, 'x`y');
CREATE TABLE `order` (nr INT NOT NULL PRIMARY KEY, wert DOUBLE) ENGINE=MyISAM;
INSERT INTO `order` VALUES (1, 1e-300), (2, NULL);
CREATE VIEW v_b AS SELECT id, vc FROM typen;
CREATE VIEW v_a AS SELECT id FROM v_b WHERE id > 0;
