-- A database with a little of everything the dump formats differently.
SET NAMES utf8mb4;
CREATE DATABASE fixture CHARACTER SET utf8mb4;
USE fixture;
CREATE TABLE kunden (
  id INT NOT NULL PRIMARY KEY,
  name VARCHAR(40) NOT NULL,
  betrag DECIMAL(10,2) NULL,
  geboren DATE NOT NULL,
  zeit DATETIME(3) NULL,
  bild BLOB NULL,
  notiz TEXT NULL COMMENT 'darf NOT NULL nicht sein'
) ENGINE=InnoDB;
INSERT INTO kunden VALUES
  (1, 'Müller', 1234.50, '2006-01-15', '2006-01-15 14:30:00.125', x'00FF10', 'Zeile mit \\ und \'Apostroph\''),
  (2, '', NULL, '0000-00-00', '2006-01-15 00:00:00', '', NULL),
  (3, 'sagt "hallo"', -0.01, '1899-12-30', NULL, NULL, 'eins\r\nzwei'),
  (4, '"', 42, '2024-02-29', '0000-00-00 00:00:00', NULL, '😀');
CREATE TABLE `order` (nr INT NOT NULL AUTO_INCREMENT PRIMARY KEY, kunde INT NOT NULL, betrag DOUBLE NOT NULL) ENGINE=InnoDB;
INSERT INTO `order` VALUES (0, 1, 0.1), (7, 2, -1.5e300);
CREATE VIEW v_umsatz AS SELECT kunde, SUM(betrag) AS summe FROM `order` GROUP BY kunde;
CREATE DATABASE leer;
